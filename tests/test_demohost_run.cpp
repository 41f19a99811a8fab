// The demo host as its user runs it: demohost.exe started as a program of
// its own, with its exit code, its output, its images and its windows; and
// the host's switch of pad modules, driven in this process.
#include "testing.h"

#include <commctrl.h>

#include <cstdio>
#include <functional>

#include "exit_codes.h"
#include "pad_settings.h"
#include "registry_tree.h"
#include "pictures.h"
#include "settings_sheet.h"
#include "pad_host.h"
#include "recording.h"
#include "signature_sink.h"
#include "signing_window.h"
#include "text.h"
#include "virtualpad.h"

namespace {

constexpr DWORD hostTimeoutMs = 60000;

std::string writeRecording(const char* name, const std::string& content)
{
    std::string path = scratchFolder("tallowmark-host-recordings") + "\\" + name;
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    EXPECT_TRUE(file && WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    return path;
}

struct HostRun {
    DWORD exitCode = STILL_ACTIVE;
    std::string out;
    std::string err;
};

UniqueFile inheritableFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return UniqueFile(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr));
}

struct RunningHost {
    HANDLE process;
    DWORD processId;
};

// Runs a demohost.exe. While it runs, during() may deal with its windows.
// Never waits past the timeout.
HostRun runHostProgram(const std::string& program, const std::string& arguments,
    const std::function<void(const RunningHost&)>& during = {})
{
    std::string folder = scratchFolder("tallowmark-host-run");
    std::string outPath = folder + "\\out.txt", errPath = folder + "\\err.txt";
    HostRun run;
    {
        UniqueFile out = inheritableFile(outPath), err = inheritableFile(errPath);
        if (!out || !err) {
            ADD_FAILURE() << "cannot create the output files in " << folder;
            return run;
        }
        std::string commandLine = "\"" + program + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        PROCESS_INFORMATION process = {};
        // Wine now and then fails to start a process under load (error 1359,
        // ERROR_INTERNAL_ERROR); starting it again works.
        bool started = false;
        DWORD startError = 0;
        for (int attempt = 0; attempt < 3 && !started; ++attempt) {
            started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                &startup, &process);
            if (!started) {
                startError = GetLastError();
                Sleep(200);
            }
        }
        if (!started) {
            ADD_FAILURE() << "cannot start " << program << ": " << startError;
            return run;
        }
        UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
        if (during)
            during(RunningHost{processHandle.get(), process.dwProcessId});
        if (WaitForSingleObject(processHandle.get(), hostTimeoutMs) != WAIT_OBJECT_0) {
            TerminateProcess(processHandle.get(), 99);
            WaitForSingleObject(processHandle.get(), 5000);
            ADD_FAILURE() << "demohost " << arguments << " did not finish";
        }
        GetExitCodeProcess(processHandle.get(), &run.exitCode);
    }
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

// The demo host built beside the tests.
HostRun runHost(const std::string& arguments, const std::function<void(const RunningHost&)>& during = {})
{
    return runHostProgram(testExecutableFolder() + "\\demohost.exe", arguments, during);
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// How many points the signing window's status line says it shows; -1
// when it says none.
long pointsShown(HWND status)
{
    std::string text = windowText(status);
    size_t end = text.find(" points");
    size_t start = end == std::string::npos ? end : text.find_last_of(' ', end - 1);
    return start == std::string::npos ? -1 : atol(text.c_str() + start + 1);
}

// The control's folder of settings files: deleting the control's own file
// brings back its defaults (4.25 inches wide, black ink of weight 2).
void forgetControlSettings()
{
    DeleteFileA((commonAppDataFolder() + "\\Tallowmark\\Settings\\SignaturePad.settings").c_str());
}

struct WindowSearch {
    DWORD processId;
    const char* caption;
    HWND found;
};

BOOL CALLBACK matchProcessWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->processId || !IsWindowVisible(window) || windowText(window) != search->caption)
        return TRUE;
    search->found = window;
    return FALSE;
}

// A visible top-level window of the running host, by its caption; null
// when the host ends or the time is up first.
HWND waitForHostWindow(const RunningHost& host, const char* caption, DWORD timeoutMs = 20000)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        WindowSearch search = {host.processId, caption, nullptr};
        EnumWindows(matchProcessWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount64() >= deadline || WaitForSingleObject(host.process, 0) == WAIT_OBJECT_0)
            return search.found;
        Sleep(20);
    }
}

BOOL CALLBACK collectText(HWND window, LPARAM parameter)
{
    *reinterpret_cast<std::string*>(parameter) += windowText(window) + "\n";
    return TRUE;
}

std::string textOfChildren(HWND window)
{
    std::string text;
    EnumChildWindows(window, collectText, reinterpret_cast<LPARAM>(&text));
    return text;
}

// Three strokes on a pad of 1000 by 500 units; the first contact report of
// each stroke is not delivered by the control, so the host sees 5 points:
// (500,250)-(900,250), (800,50)-(800,150) and a dot at (200,400).
const char knownRecording[] =
    "tallowmark-pad-recording 1\n"
    "range 1000 500\n"
    "0 pen down 100 250\n"
    "20 pen down 500 250\n"
    "40 pen down 900 250\n"
    "60 pen up 900 250\n"
    "80 pen up 950 100\n"
    "100 pen down 800 40\n"
    "120 pen down 800 50\n"
    "140 pen down 800 150\n"
    "160 pen up 800 150\n"
    "180 pen down 190 390\n"
    "200 pen down 200 400\n"
    "220 pen up 200 400\n"
    "300 button ok\n";

// Strokes and points the host must report for a recording: every run of
// contact reports is a stroke, less its first report, which the control
// does not pass on; a stroke left with no point is not one.
std::pair<size_t, size_t> expectedCounts(const std::string& recordingText)
{
    vpad::Recording recording;
    EXPECT_EQ(vpad::parseRecording(recordingText, recording), "");
    size_t strokes = 0, points = 0, run = 0;
    auto endRun = [&] {
        if (run > 1) {
            ++strokes;
            points += run - 1;
        }
        run = 0;
    };
    for (const vpad::RecordedEvent& event : recording.events) {
        if (event.kind == vpad::EventKind::Pen && event.contact)
            ++run;
        else
            endRun();
    }
    endRun();
    return {strokes, points};
}

std::string summaryLine(const std::string& recordingText)
{
    auto [strokes, points] = expectedCounts(recordingText);
    return "Signature captured: " + std::to_string(strokes) + " strokes, " + std::to_string(points) + " points, ";
}

} // namespace

TEST(HostRecordings, MalformedRecordingsAreRefusedWithTheirLineBeforeAnythingStarts)
{
    const std::pair<std::string, const char*> cases[] = {
        {"", "line 1"},
        {"hello\n0 pen down 1 2\n", "line 1"},
        {"\x89PNG\r\n\x1a\n\x01\x02\x03", "line 1"},
        {"tallowmark-pad-recording 1\n10 pen down 1 2\n5 pen up 1 2\n", "line 3"},
        {"tallowmark-pad-recording 1\n0 pen down 70000 2\n", "line 2"},
        {"tallowmark-pad-recording 1\n0 pen sideways 1 2\n", "line 2"},
        {"tallowmark-pad-recording 1\n0 pen down 1 2\nrange 100 100\n", "line 3"},
        {"tallowmark-pad-recording 1\n0 button\n", "line 2"},
        {"tallowmark-pad-recording 1\n# " + std::string(300, 'x') + "\n0 button ok\n", "line 2"},
    };
    int index = 0;
    for (const auto& [content, where] : cases) {
        std::string path = writeRecording(("malformed" + std::to_string(index++) + ".txt").c_str(), content);
        HostRun run = runHost("\"" + path + "\"");
        EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitRecording)) << content;
        EXPECT_TRUE(contains(run.err, "the recording " + path + " is malformed: " + where)) << run.err;
        EXPECT_FALSE(contains(run.out, "created")) << run.out;
    }

    // A recording without one event is malformed too, wherever it says so.
    std::string empty = writeRecording("no-events.txt", "tallowmark-pad-recording 1\n# nothing\n");
    HostRun run = runHost("\"" + empty + "\"");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitRecording));
    EXPECT_TRUE(contains(run.err, "is malformed")) << run.err;
}

TEST(HostRecordings, AMissingRecordingOrOutputFolderIsNamedAndNothingRuns)
{
    HostRun run = runHost("C:\\no\\such\\recording.txt");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitRecording));
    EXPECT_TRUE(contains(run.err, "cannot open the recording C:\\no\\such\\recording.txt")) << run.err;

    run = runHost("--out C:\\no\\such\\folder");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitUsage));
    EXPECT_TRUE(contains(run.err, "the output folder C:\\no\\such\\folder does not exist")) << run.err;
}

TEST(HostCommandLine, UnknownOptionsGetTheUsageAndHelpExitsCleanly)
{
    HostRun run = runHost("--frobnicate");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitUsage));
    EXPECT_TRUE(contains(run.err, "unknown option --frobnicate")) << run.err;
    EXPECT_TRUE(contains(run.err, "Usage: demohost")) << run.err;

    run = runHost("--help");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitSuccess));
    EXPECT_TRUE(contains(run.out, "--settings")) << run.out;
}

TEST(HostCapture, KnownRecordingGivesItsStrokesAndImagesDrawnWithTheControlsSettings)
{
    forgetControlSettings();
    std::string recording = writeRecording("known.txt", knownRecording);
    std::string out = scratchFolder("tallowmark-host-known");
    DeleteFileA((out + "\\signature.svg").c_str());
    DeleteFileA((out + "\\signature.png").c_str());

    HostRun run = runHost("--out \"" + out + "\" \"" + recording + "\"");
    ASSERT_EQ(run.exitCode, static_cast<DWORD>(ExitSuccess)) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "Signature captured: 3 strokes, 5 points, ")) << run.out;
    EXPECT_TRUE(contains(run.out, "SVG: " + out + "\\signature.svg")) << run.out;
    EXPECT_TRUE(contains(run.out, "PNG: " + out + "\\signature.png")) << run.out;

    // 4.25 by 2.125 inches at 150 dpi; 0.638 pixels per pad unit; black ink
    // of weight 2, 3.125 pixels at 150 dpi.
    std::string svg = readFile(out + "\\signature.svg");
    EXPECT_TRUE(contains(svg, "width=\"4.250in\" height=\"2.125in\" viewBox=\"0 0 638 319\"")) << svg;
    EXPECT_TRUE(contains(svg, "stroke=\"#000000\" stroke-width=\"3.125\"")) << svg;
    EXPECT_TRUE(contains(svg, "<polyline points=\"319.0,159.5 574.2,159.5\"/>")) << svg;
    EXPECT_TRUE(contains(svg, "<polyline points=\"510.4,31.9 510.4,95.7\"/>")) << svg;
    EXPECT_TRUE(contains(svg, "<circle cx=\"127.6\" cy=\"255.2\"")) << svg;

    ComApartment com;
    Picture png = decodePng(widen(out + "\\signature.png"));
    ASSERT_EQ(png.width, 638u);
    EXPECT_EQ(png.height, 319u);
    EXPECT_EQ(png.at(446, 159), RGB(0, 0, 0));
    EXPECT_EQ(png.at(446, 200), RGB(255, 255, 255));
}

TEST(HostCapture, ShippedSignatureIsCapturedByDefault)
{
    std::string out = scratchFolder("tallowmark-host-default");
    DeleteFileA((out + "\\signature.png").c_str());
    HostRun run = runHost("--out \"" + out + "\"");
    ASSERT_EQ(run.exitCode, static_cast<DWORD>(ExitSuccess)) << run.out << run.err;
    std::string shipped = readFile(testExecutableFolder() + "\\recordings\\signature.txt");
    EXPECT_TRUE(contains(run.out, summaryLine(shipped))) << run.out;
    EXPECT_TRUE(fileExists(out + "\\signature.png"));
    EXPECT_TRUE(fileExists(out + "\\signature.svg"));
}

TEST(HostCapture, ARecordingThatNeverPressesOkCompletesNoSignature)
{
    std::string recording = writeRecording("no-ok.txt",
        "tallowmark-pad-recording 1\n0 pen down 10 10\n20 pen down 20 20\n40 pen up 20 20\n60 button clear\n");
    HostRun run = runHost("\"" + recording + "\"");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitCapture));
    EXPECT_TRUE(contains(run.err, "ended without its ok button")) << run.err;
}

TEST(HostCapture, OkOnAPadClearedByItsOtherButtonCapturesNothing)
{
    std::string recording = writeRecording("cleared.txt",
        "tallowmark-pad-recording 1\n0 pen down 10 10\n20 pen down 20 20\n40 pen up 20 20\n"
        "60 button clear\n80 button ok\n");
    HostRun run = runHost("\"" + recording + "\"");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitCapture));
    EXPECT_TRUE(contains(run.err, "empty pad")) << run.err;
}

TEST(HostFailures, NoPadShowsTheControlsMessageAndTheHostReportsThatLoadFailed)
{
    std::string messageText;
    HostRun run = runHost("--no-pad", [&](const RunningHost& host) {
        HWND box = waitForHostWindow(host, "Error");
        ASSERT_NE(box, nullptr) << "the control showed no message box";
        messageText = textOfChildren(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    EXPECT_TRUE(contains(messageText, "There is no functional Scriptel signature pad connected.")) << messageText;
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitLoad));
    EXPECT_TRUE(contains(run.err, "the control's Load failed")) << run.err;
}

// By default the host finds the control through its own manifest and
// registers nothing; --register registers it and creates it through the
// registry, as before.
TEST(HostActivation, TheHostsManifestNeedsNoRegistrationAndRegisterRegisters)
{
    std::string control = testExecutableFolder() + "\\SignaturePad.dll";
    auto regsvr32 = [&](const char* arguments) {
        std::string commandLine = "regsvr32.exe " + std::string(arguments) + " \"" + control + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
            &process));
        UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
        ASSERT_EQ(WaitForSingleObject(processHandle.get(), hostTimeoutMs), WAIT_OBJECT_0);
    };
    regsvr32("/u /s");
    ASSERT_FALSE(keyExists(HKEY_CLASSES_ROOT, classKey));
    std::string recording = writeRecording("known.txt", knownRecording);
    std::string arguments = "--out \"" + scratchFolder("tallowmark-host-known") + "\" \"" + recording + "\"";
    HostRun run = runHost(arguments);
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitSuccess)) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "Registration-free: the control and the properties component are found through "
                                  "demohost.manifest")) << run.out;
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, classKey)) << "the host registered the control";

    run = runHost("--register " + arguments);
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitSuccess)) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "Registered SignaturePad.dll and Prelvane.dll with regsvr32")) << run.out;
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32"));
}

// A host whose folder lacks the assembly manifests says what it needs.
TEST(HostActivation, AHostWithoutTheAssembliesBesideItSaysWhatIsMissing)
{
    ScratchFolder alone("tallowmark-host-alone");
    for (const char* file : {"demohost.exe", "demohost.manifest", "libscriptel-proscript-windows-x64.dll"})
        ASSERT_TRUE(CopyFileA((testExecutableFolder() + "\\" + file).c_str(), alone.file(file).c_str(), FALSE)) << file;
    std::string recording = writeRecording("known.txt", knownRecording);
    HostRun run = runHostProgram(alone.file("demohost.exe"), "\"" + recording + "\"");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitControl)) << run.out << run.err;
    EXPECT_TRUE(contains(run.err, "cannot use the host's manifest " + alone.file("demohost.manifest"))) << run.err;
    EXPECT_TRUE(contains(run.err, "Tallowmark.SignaturePad.manifest beside SignaturePad.dll")) << run.err;
}

TEST(HostSettings, TheSheetShowsOnTheHostsFrameAndCancelGoesOnToCapture)
{
    std::string recording = writeRecording("known.txt", knownRecording);
    std::string out = scratchFolder("tallowmark-host-known");
    HWND owner = nullptr;
    std::string frameTitle;
    HostRun run = runHost("--settings --out \"" + out + "\" \"" + recording + "\"", [&](const RunningHost& host) {
        HWND sheet = waitForHostWindow(host, " Properties");
        ASSERT_NE(sheet, nullptr) << "no settings sheet";
        owner = GetWindow(sheet, GW_OWNER);
        frameTitle = owner ? windowText(owner) : "";
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    });
    EXPECT_EQ(frameTitle, "Tallowmark demo host");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitSuccess)) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "Signature captured: 3 strokes, 5 points, ")) << run.out;
}

TEST(HostSettings, ChoosingAPadFamilyWhoseModuleIsMissingKeepsTheControlAndCaptures)
{
    std::string recording = writeRecording("known.txt", knownRecording);
    std::string out = scratchFolder("tallowmark-host-known");
    HostRun run = runHost("--settings --out \"" + out + "\" \"" + recording + "\"", [&](const RunningHost& host) {
        HWND sheet = waitForHostWindow(host, " Properties");
        ASSERT_NE(sheet, nullptr) << "no settings sheet";
        HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        ASSERT_NE(page, nullptr);
        HWND firstFamily = GetDlgItem(page, 810);
        ASSERT_NE(firstFamily, nullptr);
        SendMessageA(firstFamily, BM_CLICK, 0, 0);
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    });
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitSuccess)) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, " not found; keeping SignaturePad.dll.")) << run.out;
    EXPECT_TRUE(contains(run.out, "Signature captured: 3 strokes, 5 points, ")) << run.out;
}

TEST(HostPadSwitch, ChangeSignaturePadLoadsAnotherModuleOnlyWhenItExists)
{
    ComApartment com;
    std::string folder = scratchFolder("tallowmark-host-pads");
    std::string other = folder + "\\OtherPad.dll";
    CopyFileA((testExecutableFolder() + "\\" + controlFileName).c_str(), other.c_str(), FALSE);
    ASSERT_TRUE(fileExists(other));

    UniqueWindow frame(CreateWindowExA(0, "STATIC", "frame", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
        nullptr, nullptr));
    ComPtr<SignatureSink> sink = SignatureSink::create();
    ASSERT_TRUE(frame && sink);
    vpad_reset();
    vpad_connect(nullptr);
    PadHost host(frame.get(), sink.get());
    std::string error;
    ASSERT_TRUE(host.createFromModule(widen(testExecutableFolder() + "\\" + controlFileName), error)) << error;
    ASSERT_TRUE(host.load());
    ISignaturePad* first = host.control();

    EXPECT_EQ(host.changePad(L"NoSuchPad.dll"), "Pad module NoSuchPad.dll not found; keeping SignaturePad.dll.");
    EXPECT_EQ(host.control(), first);
    EXPECT_EQ(host.changePad(L"SignaturePad.dll"), "Pad module SignaturePad.dll is already the active one.");
    EXPECT_EQ(host.control(), first);

    EXPECT_EQ(host.changePad(widen(other)), "Switched to pad module " + other + ".");
    EXPECT_NE(host.control(), nullptr);
    EXPECT_EQ(narrow(host.moduleFile()), "OtherPad.dll");
    EXPECT_TRUE(host.isLoaded());
    // The new control is attached to the same sink.
    host.control()->FireOption(1);
    EXPECT_EQ(WaitForSingleObject(sink->okPressed(), 0), WAIT_OBJECT_0);
    host.release();
    // The host keeps a pad module loaded for the rest of its process; with
    // every object gone, the test lets go of the copy so that it can be removed.
    FreeLibrary(GetModuleHandleA(other.c_str()));
    DeleteFileA((commonAppDataFolder() + "\\Tallowmark\\Settings\\OtherPad.settings").c_str());
}

// The signing window on the shipped recording, with ink of a colour of its
// own: the ink is there while the signer writes, the window's final picture
// holds the strokes the saved PNG holds, a larger window shows them larger,
// and Clear leaves paper only.
TEST(HostWindow, InkAppearsWhileTheSignatureIsWrittenAndEndsAsTheSavedImage)
{
    const COLORREF ink = RGB(20, 60, 200);
    PadSettings settings;
    settings.inkColor = ink;
    settings.inkWeight = 3;
    writeTextFile(settingsFileFor(), settingsfile::format(settingsEntries(settings)));
    std::string out = scratchFolder("tallowmark-host-window");
    DeleteFileA((out + "\\signature.svg").c_str());
    DeleteFileA((out + "\\signature.png").c_str());
    std::string shipped = readFile(testExecutableFolder() + "\\recordings\\signature.txt");
    long totalPoints = static_cast<long>(expectedCounts(shipped).second);
    char screenshots[MAX_PATH] = "";
    bool takeScreenshot = GetEnvironmentVariableA("TALLOWMARK_SCREENSHOTS", screenshots, sizeof screenshots) != 0;

    auto isInk = [&](COLORREF pixel) { return closeTo(pixel, ink); };
    Picture halfWay, ended, resized, cleared;
    HostRun run = runHost("--window --out \"" + out + "\"", [&](const RunningHost& host) {
        HWND window = waitForHostWindow(host, "Tallowmark demo host - signing");
        ASSERT_NE(window, nullptr) << "no signing window";
        HWND area = GetDlgItem(window, SigningWindow::AreaId);
        HWND status = GetDlgItem(window, SigningWindow::StatusId);
        ASSERT_TRUE(area && status);
        auto finish = [&] { PostMessageA(window, WM_CLOSE, 0, 0); };

        // The status line follows the ink: once it counts half the points
        // they are on the screen.
        EXPECT_TRUE(waitUntil([&] { return pointsShown(status) >= totalPoints / 2; }, 20000))
            << windowText(status);
        halfWay = screenPicture(area);
        bool saved = waitUntil([&] { return windowText(status).find("Saved signature.svg") != std::string::npos; },
            20000);
        EXPECT_TRUE(saved) << windowText(status);
        if (!saved)
            return finish();
        ended = screenPicture(area);
        if (takeScreenshot) {
            EXPECT_TRUE(saveWindowImage(window, std::string(screenshots) + "\\signing-window.png"));
        }

        // A larger window draws the whole signature again, larger.
        RECT frameRect;
        GetWindowRect(window, &frameRect);
        SetWindowPos(window, nullptr, 0, 0, (frameRect.right - frameRect.left) * 3 / 2,
            (frameRect.bottom - frameRect.top) * 3 / 2, SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_TRUE(waitUntil([&] {
            RECT client;
            GetClientRect(area, &client);
            if (client.right <= LONG(ended.width))
                return false;
            resized = screenPicture(area);
            RECT inkBox = boundsOf(resized, isInk);
            return inkBox.right > LONG(ended.width);
        })) << "the signature was not drawn again at the new size";

        PostMessageA(window, WM_COMMAND, MAKEWPARAM(SigningWindow::ClearId, BN_CLICKED),
            reinterpret_cast<LPARAM>(GetDlgItem(window, SigningWindow::ClearId)));
        EXPECT_TRUE(waitUntil([&] { return windowText(status).find("Cleared") != std::string::npos; }))
            << windowText(status);
        cleared = screenPicture(area);
        finish();
    });
    forgetControlSettings();
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitSuccess)) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, summaryLine(shipped))) << run.out;
    size_t latency = run.out.find("Ink latency");
    EXPECT_NE(latency, std::string::npos) << run.out;
    if (latency != std::string::npos)
        printf("%s", run.out.substr(latency).c_str());
    ASSERT_GT(ended.width, 0u);

    RECT half = boundsOf(halfWay, isInk), drawn = boundsOf(ended, isInk);
    EXPECT_FALSE(IsRectEmpty(&half)) << "no ink half-way";
    // Half-way the ink lies within the final strokes and does not reach their end.
    RECT within;
    IntersectRect(&within, &half, &drawn);
    EXPECT_TRUE(EqualRect(&within, &half));
    EXPECT_LT(half.right, drawn.right);

    // The saved PNG's strokes, brought to the area's size, cover the same box.
    ComApartment com;
    Picture png = decodePng(widen(out + "\\signature.png"));
    ASSERT_GT(png.width, 0u);
    RECT inPng = boundsOf(png, [](COLORREF pixel) { return !closeTo(pixel, RGB(255, 255, 255), 96); });
    double scale = static_cast<double>(ended.width) / png.width;
    EXPECT_NEAR(static_cast<double>(ended.height) / png.height, scale, 0.01);
    const int slack = 4;
    EXPECT_NEAR(drawn.left, inPng.left * scale, slack);
    EXPECT_NEAR(drawn.top, inPng.top * scale, slack);
    EXPECT_NEAR(drawn.right, inPng.right * scale, slack);
    EXPECT_NEAR(drawn.bottom, inPng.bottom * scale, slack);

    ASSERT_GT(resized.width, ended.width);
    RECT larger = boundsOf(resized, isInk);
    double growth = static_cast<double>(resized.width) / ended.width;
    EXPECT_NEAR(larger.left, drawn.left * growth, 2 * slack);
    EXPECT_NEAR(larger.top, drawn.top * growth, 2 * slack);
    EXPECT_NEAR(larger.right, drawn.right * growth, 2 * slack);
    EXPECT_NEAR(larger.bottom, drawn.bottom * growth, 2 * slack);

    RECT inkLeft = boundsOf(cleared, isInk);
    EXPECT_TRUE(IsRectEmpty(&inkLeft)) << "ink left after Clear";
    EXPECT_TRUE(closeTo(cleared.at(cleared.width / 2, cleared.height / 4), RGB(255, 255, 255), 0));
    DeleteFileA((out + "\\signature.svg").c_str());
    DeleteFileA((out + "\\signature.png").c_str());
}

TEST(HostWindow, WithNoPadTheControlsMessageComesFirstAndTheWindowSaysSo)
{
    std::string messageText, statusText;
    HostRun run = runHost("--window --no-pad", [&](const RunningHost& host) {
        HWND box = waitForHostWindow(host, "Error");
        ASSERT_NE(box, nullptr) << "the control showed no message box";
        messageText = textOfChildren(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        HWND window = waitForHostWindow(host, "Tallowmark demo host - signing");
        ASSERT_NE(window, nullptr);
        HWND status = GetDlgItem(window, SigningWindow::StatusId);
        waitUntil([&] { return windowText(status).find("No signature pad") != std::string::npos; });
        statusText = windowText(status);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, SigningWindow::OkId)));
        PostMessageA(window, WM_CLOSE, 0, 0);
    });
    EXPECT_TRUE(contains(messageText, "There is no functional Scriptel signature pad connected.")) << messageText;
    EXPECT_TRUE(contains(statusText, "No signature pad: the control found none")) << statusText;
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitLoad));
}

TEST(HostWindow, SettingsShowTheControlsSheetOnTheWindowAndItsNewWidthIsApplied)
{
    forgetControlSettings();
    std::string recording = writeRecording("known.txt", knownRecording);
    std::string out = scratchFolder("tallowmark-host-known");
    std::string owner, statusText;
    HostRun run = runHost("--window --out \"" + out + "\" \"" + recording + "\"", [&](const RunningHost& host) {
        HWND window = waitForHostWindow(host, "Tallowmark demo host - signing");
        ASSERT_NE(window, nullptr);
        HWND status = GetDlgItem(window, SigningWindow::StatusId);
        EXPECT_TRUE(waitUntil([&] { return windowText(status).find("Saved") != std::string::npos; }, 20000))
            << windowText(status);
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(SigningWindow::SettingsId, BN_CLICKED),
            reinterpret_cast<LPARAM>(GetDlgItem(window, SigningWindow::SettingsId)));
        HWND sheet = waitForHostWindow(host, " Properties");
        if (sheet) {
            HWND ownerWindow = GetWindow(sheet, GW_OWNER);
            owner = ownerWindow ? windowText(ownerWindow) : "";
            HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
            SetDlgItemTextA(page, 802, "3.00");
            PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
            waitUntil([&] { return windowText(status).find("Settings applied") != std::string::npos; });
        }
        statusText = windowText(status);
        PostMessageA(window, WM_CLOSE, 0, 0);
    });
    forgetControlSettings();
    EXPECT_EQ(owner, "Tallowmark demo host - signing");
    // The known recording's pad is 1000 by 500 units.
    EXPECT_TRUE(contains(statusText, "Settings applied: ink 0x000000, weight 2, 3.00 x 1.50 inches.")) << statusText;
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ExitSuccess)) << run.out << run.err;
}
