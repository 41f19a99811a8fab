// The demo host's own parts on their own: its command line, its event sink
// fed from another thread as the pad's reader thread feeds it, and the SVG
// and PNG images of a known signature, read back through WIC.
#include "testing.h"

#include <cmath>
#include <functional>
#include <thread>

#include "options.h"
#include "pictures.h"
#include "signature_image.h"
#include "signature_sink.h"
#include "text.h"

namespace {

bool parse(std::vector<const char*> arguments, Options& options, std::string& error)
{
    return parseOptions(static_cast<int>(arguments.size()), arguments.data(), options, error);
}

// A pad of 1000 by 500 units shown 4 by 2 inches: 600 by 300 pixels, 0.6
// pixels per unit. Weight 4 at 96 dpi is a line of 6.25 pixels at 150 dpi.
ImageLayout knownSpec()
{
    ImageLayout layout;
    layout.padWidth = 1000;
    layout.padHeight = 500;
    layout.widthInches = 4.0;
    layout.heightInches = 2.0;
    layout.inkColor = RGB(200, 30, 40);
    layout.inkWeight = 4;
    return layout;
}

// A level line across the middle, a short vertical line, and a dot.
Signature knownSignature()
{
    Signature signature;
    signature.strokes = {
        {{100, 250}, {500, 250}, {900, 250}},
        {{800, 50}, {800, 150}},
        {{200, 400}},
    };
    signature.durationMs = 1200;
    return signature;
}

} // namespace

TEST(HostOptions, DefaultsRegisterNothingAndCaptureWithTheShippedRecording)
{
    Options options;
    std::string error;
    ASSERT_TRUE(parse({}, options, error));
    EXPECT_TRUE(options.recording.empty());
    EXPECT_TRUE(options.outFolder.empty());
    EXPECT_FALSE(options.registerComponents);
    EXPECT_TRUE(options.plugInPad);
    EXPECT_FALSE(options.showSettings);
    EXPECT_FALSE(options.window);
    EXPECT_FALSE(options.help);

    ASSERT_TRUE(parse({"--settings", "--out", "C:\\out", "--register", "--no-pad", "--window", "mine.txt"},
        options, error));
    EXPECT_TRUE(options.window);
    EXPECT_EQ(options.recording, "mine.txt");
    EXPECT_EQ(options.outFolder, "C:\\out");
    EXPECT_TRUE(options.registerComponents);
    EXPECT_FALSE(options.plugInPad);
    EXPECT_TRUE(options.showSettings);
}

TEST(HostOptions, NonsenseIsRefusedWithTheReason)
{
    Options options;
    std::string error;
    EXPECT_FALSE(parse({"--colour"}, options, error));
    EXPECT_EQ(error, "unknown option --colour");
    EXPECT_FALSE(parse({"--out"}, options, error));
    EXPECT_EQ(error, "--out needs a folder");
    EXPECT_FALSE(parse({"one.txt", "two.txt"}, options, error));
    EXPECT_NE(error.find("two.txt"), std::string::npos);
    EXPECT_FALSE(parse({""}, options, error));
}

TEST(HostSink, StrokesLeaveOutTheZeroPointsAfterPenDownAndPenUpAndTheHovering)
{
    ComPtr<SignatureSink> sink = SignatureSink::create();
    ASSERT_TRUE(sink);
    DWORD hostThread = GetCurrentThreadId();
    DWORD eventThread = 0;
    // The control's own sequence for two strokes, on a thread of its own.
    std::thread reader([&] {
        eventThread = GetCurrentThreadId();
        ISignaturePadEvents* events = sink.get();
        events->PenUp();                 // hovering before the first touch
        events->PenPoint(0, 0, 0.0f);
        events->PenDown();
        events->PenPoint(0, 0, 0.0f);
        events->PenPoint(11, 21, 0.0f);
        events->PenPoint(12, 22, 0.0f);
        events->PenUp();
        events->PenPoint(0, 0, 0.0f);
        events->PenUp();                 // hovering between strokes
        events->PenPoint(0, 0, 0.0f);
        events->PenDown();
        events->PenPoint(0, 0, 0.0f);    // a touch that never moved: no stroke
        events->PenUp();
        events->PenPoint(0, 0, 0.0f);
        events->PenDown();
        events->PenPoint(0, 0, 0.0f);
        events->PenPoint(0, 5, 0.0f);    // a real point on the pad's edge
        events->PenUp();
        events->PenPoint(0, 0, 0.0f);
    });
    reader.join();
    EXPECT_NE(eventThread, hostThread);

    Signature signature = sink->signature();
    ASSERT_EQ(signature.strokes.size(), 2u);
    ASSERT_EQ(signature.strokes[0].size(), 2u);
    EXPECT_EQ(signature.strokes[0][0].x, 11);
    EXPECT_EQ(signature.strokes[0][0].y, 21);
    EXPECT_EQ(signature.strokes[0][1].x, 12);
    EXPECT_EQ(signature.strokes[0][1].y, 22);
    ASSERT_EQ(signature.strokes[1].size(), 1u);
    EXPECT_EQ(signature.strokes[1][0].x, 0);
    EXPECT_EQ(signature.strokes[1][0].y, 5);
    EXPECT_EQ(signature.pointCount(), 3u);
    EXPECT_EQ(WaitForSingleObject(sink->okPressed(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(HostSink, OkSignalsTheHostThreadAndAnyOtherButtonStartsAgain)
{
    ComPtr<SignatureSink> sink = SignatureSink::create();
    ASSERT_TRUE(sink);
    std::thread reader([&] {
        ISignaturePadEvents* events = sink.get();
        events->PenDown();
        events->PenPoint(0, 0, 0.0f);
        events->PenPoint(1, 1, 0.0f);
        events->PenPoint(2, 2, 0.0f);
        events->PenUp();
        events->PenPoint(0, 0, 0.0f);
        events->OptionSelected(0);       // "clear": the pad's display was cleared
    });
    reader.join();
    EXPECT_TRUE(sink->signature().strokes.empty());
    EXPECT_EQ(WaitForSingleObject(sink->okPressed(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    std::thread again([&] {
        ISignaturePadEvents* events = sink.get();
        events->PenDown();
        events->PenPoint(0, 0, 0.0f);
        events->PenPoint(7, 8, 0.0f);
        events->PenUp();
        events->PenPoint(0, 0, 0.0f);
        events->OptionSelected(1);
    });
    // The host's thread waits on the event, bounded, as the host does.
    EXPECT_EQ(WaitForSingleObject(sink->okPressed(), 5000), WAIT_OBJECT_0);
    again.join();
    Signature signature = sink->signature();
    ASSERT_EQ(signature.strokes.size(), 1u);
    EXPECT_EQ(signature.strokes[0][0].x, 7);
    EXPECT_EQ(signature.strokes[0][0].y, 8);
}

TEST(HostSink, AWindowsCopyCatchesUpWithWhatIsNewAndStartsAgainAfterAClearing)
{
    constexpr UINT inkMessage = WM_APP + 7;
    UniqueWindow window(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    ComPtr<SignatureSink> sink = SignatureSink::create();
    ASSERT_TRUE(window && sink);
    auto messagesWaiting = [&] {
        int count = 0;
        MSG message;
        while (PeekMessageA(&message, window.get(), inkMessage, inkMessage, PM_REMOVE))
            ++count;
        return count;
    };
    auto onReader = [&](const std::function<void(ISignaturePadEvents*)>& events) {
        std::thread reader([&] { events(sink.get()); });
        reader.join();
    };
    Signature copy;
    uint64_t generation = 0;
    EXPECT_EQ(sink->catchUp(copy, generation), SignatureSink::InkChange::Restarted);
    sink->notify(window.get(), inkMessage);

    onReader([](ISignaturePadEvents* events) {
        events->PenDown();
        events->PenPoint(0, 0, 0.0f);
        events->PenPoint(1, 2, 0.0f);
        events->PenPoint(3, 4, 0.0f);
    });
    EXPECT_EQ(messagesWaiting(), 1);    // one message for all that is waiting
    EXPECT_EQ(sink->catchUp(copy, generation), SignatureSink::InkChange::Added);
    ASSERT_EQ(copy.strokes.size(), 1u);
    EXPECT_EQ(copy.strokes[0].size(), 2u);
    EXPECT_EQ(sink->catchUp(copy, generation), SignatureSink::InkChange::None);

    onReader([](ISignaturePadEvents* events) {
        events->PenPoint(5, 6, 0.0f);
        events->PenUp();
        events->PenPoint(0, 0, 0.0f);
        events->PenDown();
        events->PenPoint(0, 0, 0.0f);
        events->PenPoint(7, 8, 0.0f);
    });
    EXPECT_EQ(messagesWaiting(), 1);    // caught up: the next ink posts again
    EXPECT_EQ(sink->catchUp(copy, generation), SignatureSink::InkChange::Added);
    ASSERT_EQ(copy.strokes.size(), 2u);
    EXPECT_EQ(copy.strokes[0].size(), 3u);
    EXPECT_EQ(copy.strokes[0][2].x, 5);
    ASSERT_EQ(copy.strokes[1].size(), 1u);
    EXPECT_EQ(copy.strokes[1][0].y, 8);

    // The pad's other button clears; "ok" then the host's own Clear.
    onReader([](ISignaturePadEvents* events) { events->OptionSelected(0); });
    EXPECT_EQ(messagesWaiting(), 1);
    EXPECT_EQ(sink->catchUp(copy, generation), SignatureSink::InkChange::Restarted);
    EXPECT_TRUE(copy.strokes.empty());
    EXPECT_EQ(sink->msSinceFirstStroke(), 0u);
    onReader([](ISignaturePadEvents* events) { events->OptionSelected(1); });
    EXPECT_EQ(messagesWaiting(), 1);
    EXPECT_EQ(WaitForSingleObject(sink->okPressed(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(sink->catchUp(copy, generation), SignatureSink::InkChange::None);
    sink->restart();
    EXPECT_EQ(messagesWaiting(), 1);
    EXPECT_EQ(WaitForSingleObject(sink->okPressed(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(sink->catchUp(copy, generation), SignatureSink::InkChange::Restarted);

    sink->notify(nullptr, 0);
    onReader([](ISignaturePadEvents* events) { events->OptionSelected(0); });
    EXPECT_EQ(messagesWaiting(), 0);
}

TEST(HostSink, AnswersOnlyItsEventInterfaceAndIsAdvisedLikeAnyCaller)
{
    ComPtr<SignatureSink> sink = SignatureSink::create();
    ASSERT_TRUE(sink);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(sink->QueryInterface(IID_IUnknown, unknown.putVoid()), S_OK);
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(sink->QueryInterface(IID_IDispatch, dispatch.putVoid()), E_NOINTERFACE);
    EXPECT_FALSE(dispatch);
}

TEST(HostImages, SvgDrawsEveryStrokeInTheInkColourAndWeightOnTheDocumentSize)
{
    std::string path = programScratch().file("tallowmark-host-known.svg");
    ASSERT_EQ(writeSignatureSvg(widen(path), knownSignature(), knownSpec()), "");
    std::string svg = readFile(path);
    EXPECT_NE(svg.find("width=\"4.000in\" height=\"2.000in\" viewBox=\"0 0 600 300\""), std::string::npos) << svg;
    EXPECT_NE(svg.find("stroke=\"#C81E28\" stroke-width=\"6.25\""), std::string::npos) << svg;
    EXPECT_NE(svg.find("<polyline points=\"60.0,150.0 300.0,150.0 540.0,150.0\"/>"), std::string::npos) << svg;
    EXPECT_NE(svg.find("<polyline points=\"480.0,30.0 480.0,90.0\"/>"), std::string::npos) << svg;
    EXPECT_NE(svg.find("<circle cx=\"120.0\" cy=\"240.0\" r=\"3.125\" fill=\"#C81E28\""), std::string::npos) << svg;
    EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
}

TEST(HostImages, PngIsWicReadableAtTheDocumentSizeWithInkOnlyWhereTheStrokesRun)
{
    ComApartment com;
    std::wstring path = widen(programScratch().file("tallowmark-host-known.png"));
    ASSERT_EQ(writeSignaturePng(path, knownSignature(), knownSpec()), "");
    Picture image = decodePng(path);
    ASSERT_EQ(image.width, 600u);
    ASSERT_EQ(image.height, 300u);
    EXPECT_NEAR(image.dpiX, 150.0, 0.05);   // PNG keeps whole pixels per metre
    EXPECT_NEAR(image.dpiY, 150.0, 0.05);

    COLORREF ink = RGB(200, 30, 40), paper = RGB(255, 255, 255);
    for (UINT x : {61u, 200u, 300u, 539u})
        EXPECT_TRUE(closeTo(image.at(x, 150), ink)) << "level line at x " << x;
    EXPECT_TRUE(closeTo(image.at(480, 60), ink)) << "vertical line";
    EXPECT_TRUE(closeTo(image.at(120, 240), ink)) << "dot";
    // The line is about six pixels wide: clear paper a few pixels off it.
    for (UINT y : {140u, 160u})
        EXPECT_TRUE(closeTo(image.at(300, y), paper)) << "above or below the line at y " << y;
    for (auto [x, y] : {std::pair<UINT, UINT>{0, 0}, {599, 299}, {580, 150}, {20, 150}, {480, 100}, {130, 240}})
        EXPECT_TRUE(closeTo(image.at(x, y), paper)) << "paper at " << x << ", " << y;
    // Smoothed edges: some pixels along the line lie between ink and paper.
    int between = 0;
    for (UINT y = 140; y <= 160; ++y) {
        COLORREF pixel = image.at(300, y);
        if (!closeTo(pixel, ink) && !closeTo(pixel, paper))
            ++between;
    }
    EXPECT_GT(between, 0);
}

TEST(HostImages, SizesThatCannotBeDrawnAreRefusedAndWriteNothing)
{
    std::wstring path = widen(programScratch().file("tallowmark-host-refused.png"));
    DeleteFileW(path.c_str());
    ImageLayout noRange = knownSpec();
    noRange.padWidth = 0;
    EXPECT_NE(checkImageLayout(noRange), "");
    for (double inches : {0.0, -1.0, 1000.0, std::nan("")}) {
        ImageLayout layout = knownSpec();
        layout.widthInches = inches;
        std::string problem = writeSignaturePng(path, knownSignature(), layout);
        EXPECT_NE(problem.find("signature area"), std::string::npos) << inches;
        EXPECT_NE(writeSignatureSvg(path, knownSignature(), layout), "");
    }
    EXPECT_FALSE(fileExists(narrow(path)));
    EXPECT_EQ(checkImageLayout(knownSpec()), "");
}

TEST(HostImages, AnUnwritableFileIsReportedWithItsName)
{
    ComApartment com;
    std::wstring path = widen(programScratch().file("no-such-folder-for-tallowmark\\signature.png"));
    std::string problem = writeSignaturePng(path, knownSignature(), knownSpec());
    EXPECT_NE(problem.find("no-such-folder-for-tallowmark"), std::string::npos) << problem;
    problem = writeSignatureSvg(path.substr(0, path.size() - 3) + L"svg", knownSignature(), knownSpec());
    EXPECT_NE(problem.find("cannot create"), std::string::npos) << problem;
}
