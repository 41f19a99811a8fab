// The demo host: captures one signature through the Tallowmark signature pad
// control the way a document-signing application does, and writes it as an
// SVG and a PNG image.
//
// The host finds the control through its own manifest, registration-free
// (or registers it with --register), creates it by its ProgID, advises its
// event sink, gives it the frame window, loads it with the host's services
// and starts capture. The signer's "ok" on the pad ends the capture: the
// sink signals the host's thread, which stops and unloads the control. With
// --window the frame is a signing window that shows the ink as it arrives.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <optional>
#include <string>

#include "exit_codes.h"
#include "handles.h"
#include "host_manifest.h"
#include "options.h"
#include "pad_host.h"
#include "registration.h"
#include "signature_image.h"
#include "signature_sink.h"
#include "signing_window.h"
#include "text.h"
#include "virtual_pad_input.h"

namespace {

constexpr wchar_t controlProgId[] = L"Orlendale.OrlendaleSignaturePad";
constexpr const wchar_t* componentFiles[] = {L"SignaturePad.dll", L"Prelvane.dll"};
constexpr wchar_t hostManifestFile[] = L"demohost.manifest";
// Time the pad's input may take to arrive beyond the recording's own length.
constexpr DWORD inputGraceMs = 15000;

int fail(int code, const std::string& message)
{
    fprintf(stderr, "demohost: %s\n", message.c_str());
    return code;
}

std::wstring hostFolder()
{
    wchar_t path[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring fullPathOf(const std::wstring& path)
{
    wchar_t full[MAX_PATH] = L"";
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::wstring(full) : path;
}

// The document window of a signing application; the control parents its
// settings sheet to it. It stays hidden in this console demo.
UniqueWindow createFrameWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TallowmarkDemoHostFrame";
    RegisterClassW(&windowClass);
    return UniqueWindow(CreateWindowExW(0, windowClass.lpszClassName, L"Tallowmark demo host", WS_OVERLAPPEDWINDOW,
        CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr, nullptr, windowClass.hInstance, nullptr));
}

// Waits, handling the thread's window messages, until the signer presses
// "ok" or the pad has no more input to give. True when "ok" arrived.
bool waitForOk(const SignatureSink& sink, const VirtualPadInput& input)
{
    HANDLE ok = sink.okPressed();
    ULONGLONG deadline = GetTickCount64() + input.durationMs() + inputGraceMs;
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &ok, FALSE, 100, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0)
            return true;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        // The sink sets the event before the pad's callback returns, so once
        // the pad is idle a missing "ok" will not come.
        if (input.finished() || GetTickCount64() >= deadline)
            return WaitForSingleObject(ok, 0) == WAIT_OBJECT_0;
    }
}

void printImage(const char* kind, const std::wstring& path)
{
    std::string where = unixPathOf(path);
    printf("  %s: %s%s%s\n", kind, narrow(path).c_str(), where.empty() ? "" : "  ->  ", where.c_str());
}

// Writes signature.svg and signature.png into the folder and prints what was
// captured and where it went. Empty, or what failed.
std::string saveImages(const std::wstring& outFolder, const Signature& signature, const ImageLayout& layout)
{
    std::wstring svgPath = outFolder + L"\\signature.svg";
    std::wstring pngPath = outFolder + L"\\signature.png";
    std::string error;
    if (!(error = writeSignatureSvg(svgPath, signature, layout)).empty() ||
        !(error = writeSignaturePng(pngPath, signature, layout)).empty())
        return error;

    printf("Signature captured: %lu strokes, %lu points, %.2f s\n",
        static_cast<unsigned long>(signature.strokes.size()), static_cast<unsigned long>(signature.pointCount()),
        signature.durationMs / 1000.0);
    printImage("SVG", svgPath);
    printImage("PNG", pngPath);
    fflush(stdout);
    return std::string();
}

void printPad(ISignaturePad* pad)
{
    printf("Pad \"%s\": %ld x %ld, %.2f x %.2f inches\n", pad->DeviceName(), pad->Width(), pad->Height(),
        pad->WidthInInches(), pad->HeightInInches());
}

// Everything both modes share: the recording read, the control found
// through the host's manifest or registered, created on the host's frame and
// loaded. Each step returns an exit code.
class Session {
public:
    int readRecording(const Options& options)
    {
        recordingPath = options.recording.empty() ? narrow(hostFolder()) + "\\recordings\\signature.txt"
                                                  : options.recording;
        std::string error;
        if (!input.load(recordingPath, error))
            return fail(ExitRecording, error);
        return ExitSuccess;
    }

    // Without --register the host's manifest stays active for the whole
    // session: the control creates the properties component under it too.
    int findComponents(const Options& options)
    {
        std::string error;
        if (!options.registerComponents) {
            if (!manifest.activate(hostFolder() + L"\\" + hostManifestFile, error))
                return fail(ExitControl, error);
            printf("Registration-free: the control and the properties component are found through %s\n",
                narrow(hostManifestFile).c_str());
            return ExitSuccess;
        }
        for (const wchar_t* file : componentFiles) {
            if (!registerServer(hostFolder() + L"\\" + file, error))
                return fail(ExitControl, error);
        }
        printf("Registered SignaturePad.dll and Prelvane.dll with regsvr32\n");
        return ExitSuccess;
    }

    // Creates the control on the frame, plugs in the pad and loads it.
    int open(const Options& options, HWND frame)
    {
        if (!frame)
            return fail(ExitControl, "cannot create the host's frame window: " +
                                         describeResult(HRESULT_FROM_WIN32(GetLastError())) + " (is a display set?)");
        sink = SignatureSink::create();
        if (!sink)
            return fail(ExitControl, "cannot create the host's event sink");
        host.emplace(frame, sink.get());
        std::string error;
        if (!host->createByProgId(controlProgId, error))
            return fail(ExitControl, error);
        printf("Control %s created from %s\n", narrow(controlProgId).c_str(), narrow(host->modulePath()).c_str());

        if (options.plugInPad)
            input.plugIn();
        // A failed Load has already shown the control's own message to the user.
        loaded = host->load();
        if (options.showSettings) {
            std::string change = host->showSettings();
            if (!change.empty())
                printf("%s\n", change.c_str());
            loaded = host->isLoaded();
        }
        return ExitSuccess;
    }

    // Declared first, so that it is deactivated after the control has gone.
    HostManifest manifest;
    std::string recordingPath;
    VirtualPadInput input;
    ComPtr<SignatureSink> sink;
    std::optional<PadHost> host;
    bool loaded = false;
};

int runConsole(const Options& options, const std::wstring& outFolder)
{
    UniqueWindow frame;
    Session session;
    int code = session.readRecording(options);
    if (code == ExitSuccess)
        code = session.findComponents(options);
    if (code == ExitSuccess) {
        frame = createFrameWindow();
        code = session.open(options, frame.get());
    }
    if (code != ExitSuccess)
        return code;
    if (!session.loaded)
        return fail(ExitLoad, "the control's Load failed: no signature pad was found, or it did not open");
    PadHost& host = *session.host;

    ISignaturePad* pad = host.control();
    printPad(pad);
    printf("Signing with %s (%.1f s); the pad's ok button ends it...\n", session.recordingPath.c_str(),
        session.input.durationMs() / 1000.0);

    std::string error;
    host.start();
    if (!session.input.startWriting(error))
        return fail(ExitRecording, error);
    bool ok = waitForOk(*session.sink.get(), session.input);
    host.stopAndUnload();
    if (!ok)
        return fail(ExitCapture, "the pad's input ended without its ok button; no signature was completed");

    Signature signature = session.sink->signature();
    if (signature.strokes.empty())
        return fail(ExitCapture, "ok was pressed on an empty pad; no signature was captured");
    ImageLayout layout = host.imageLayout();
    host.release();
    if (!(error = saveImages(outFolder, signature, layout)).empty())
        return fail(ExitImage, error);
    return ExitSuccess;
}

// The signing window is the host's frame: it stays open, signature after
// signature, until the user closes it.
int runWindow(const Options& options, const std::wstring& outFolder)
{
    SigningWindow window([&](const Signature& signature, const ImageLayout& layout, bool& saved) {
        std::string error = saveImages(outFolder, signature, layout);
        saved = error.empty();
        if (!saved) {
            fprintf(stderr, "demohost: %s\n", error.c_str());
            return "Not saved: " + error;
        }
        return "Saved signature.svg and signature.png in " + narrow(outFolder) + ".";
    });
    Session session;
    int code = session.readRecording(options);
    if (code == ExitSuccess)
        code = session.findComponents(options);
    if (code == ExitSuccess)
        code = session.open(options, window.create() ? window.handle() : nullptr);
    if (code != ExitSuccess)
        return code;
    if (!session.loaded) {
        window.showNoPad();
        window.run();
        return fail(ExitLoad, "the control's Load failed: no signature pad was found, or it did not open");
    }
    printPad(session.host->control());
    printf("Signing with %s (%.1f s) in the window; close it to end...\n", session.recordingPath.c_str(),
        session.input.durationMs() / 1000.0);
    fflush(stdout);

    window.startCapture(*session.host, *session.sink.get());
    std::string error;
    if (!session.input.startWriting(error))
        return fail(ExitRecording, error);
    window.run();
    session.host->release();

    std::string latency = window.latency().summary();
    if (!latency.empty())
        printf("Ink latency, point received to its segment on the screen: %s\n", latency.c_str());
    if (!window.saved())
        return fail(ExitCapture, "the window was closed before a signature was saved");
    return ExitSuccess;
}

int run(const Options& options)
{
    std::wstring outFolder = fullPathOf(options.outFolder.empty() ? L"." : widen(options.outFolder));
    DWORD outAttributes = GetFileAttributesW(outFolder.c_str());
    if (outAttributes == INVALID_FILE_ATTRIBUTES || !(outAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(ExitUsage, "the output folder " + narrow(outFolder) + " does not exist");

    ComInitialization com;
    INITCOMMONCONTROLSEX commonControls = {sizeof commonControls, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&commonControls);
    return options.window ? runWindow(options, outFolder) : runConsole(options, outFolder);
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    std::string error;
    if (!parseOptions(argc - 1, argv + 1, options, error)) {
        fprintf(stderr, "demohost: %s\n\n%s", error.c_str(), usageText);
        return ExitUsage;
    }
    if (options.help) {
        printf("%s", usageText);
        return ExitSuccess;
    }
    int code = run(options);
    fflush(stdout);
    return code;
}
