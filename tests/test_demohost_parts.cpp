// The demo host's own parts on their own: its command line, its event sink
// fed from another thread as the pad's reader thread feeds it, and the SVG
// and PNG images of a known signature, read back through WIC.
#include "testing.h"

#include <wincodec.h>

#include <cmath>
#include <cstdlib>
#include <thread>

#include "options.h"
#include "signature_image.h"
#include "signature_sink.h"
#include "text.h"

namespace {

bool parse(std::vector<const char*> arguments, Options& options, std::string& error)
{
    return parseOptions(static_cast<int>(arguments.size()), arguments.data(), options, error);
}

// A decoded PNG: its size, resolution and 24-bit BGR pixels.
struct DecodedImage {
    UINT width = 0;
    UINT height = 0;
    double dpiX = 0.0;
    double dpiY = 0.0;
    std::vector<BYTE> pixels;

    COLORREF at(UINT x, UINT y) const
    {
        const BYTE* pixel = &pixels[(static_cast<size_t>(y) * width + x) * 3];
        return RGB(pixel[2], pixel[1], pixel[0]);
    }
};

DecodedImage decodePng(const std::wstring& path)
{
    DecodedImage image;
    ComPtr<IWICImagingFactory> factory;
    EXPECT_EQ(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                  factory.putVoid()), S_OK);
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapSource> converted;
    GUID container = {};
    if (!factory ||
        FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnLoad,
            decoder.put())) ||
        FAILED(decoder->GetContainerFormat(&container)) || FAILED(decoder->GetFrame(0, frame.put())) ||
        FAILED(WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame.get(), converted.put()))) {
        ADD_FAILURE() << "cannot decode " << narrow(path);
        return image;
    }
    EXPECT_TRUE(container == GUID_ContainerFormatPng);
    frame->GetSize(&image.width, &image.height);
    frame->GetResolution(&image.dpiX, &image.dpiY);
    image.pixels.resize(static_cast<size_t>(image.width) * image.height * 3);
    EXPECT_EQ(converted->CopyPixels(nullptr, image.width * 3, static_cast<UINT>(image.pixels.size()),
                  image.pixels.data()), S_OK);
    return image;
}

bool closeTo(COLORREF actual, COLORREF expected, int tolerance = 8)
{
    return abs(GetRValue(actual) - GetRValue(expected)) <= tolerance &&
           abs(GetGValue(actual) - GetGValue(expected)) <= tolerance &&
           abs(GetBValue(actual) - GetBValue(expected)) <= tolerance;
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

TEST(HostOptions, DefaultsRegisterThePadAndCaptureWithTheShippedRecording)
{
    Options options;
    std::string error;
    ASSERT_TRUE(parse({}, options, error));
    EXPECT_TRUE(options.recording.empty());
    EXPECT_TRUE(options.outFolder.empty());
    EXPECT_TRUE(options.registerComponents);
    EXPECT_TRUE(options.plugInPad);
    EXPECT_FALSE(options.showSettings);
    EXPECT_FALSE(options.help);

    ASSERT_TRUE(parse({"--settings", "--out", "C:\\out", "--no-register", "--no-pad", "mine.txt"}, options, error));
    EXPECT_EQ(options.recording, "mine.txt");
    EXPECT_EQ(options.outFolder, "C:\\out");
    EXPECT_FALSE(options.registerComponents);
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
    DecodedImage image = decodePng(path);
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
