// The demo host: captures one signature through the Tallowmark signature pad
// control the way a document-signing application does, and writes it as an
// SVG and a PNG image.
//
// The host registers the control, creates it by its ProgID, advises its
// event sink, gives it the frame window, loads it with the host's services
// and starts capture. The signer's "ok" on the pad ends the capture: the
// sink signals the host's thread, which stops and unloads the control.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "exit_codes.h"
#include "handles.h"
#include "options.h"
#include "pad_host.h"
#include "registration.h"
#include "signature_image.h"
#include "signature_sink.h"
#include "text.h"
#include "virtual_pad_input.h"

namespace {

constexpr wchar_t controlProgId[] = L"Orlendale.OrlendaleSignaturePad";
constexpr const wchar_t* componentFiles[] = {L"SignaturePad.dll", L"Prelvane.dll"};
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

int run(const Options& options)
{
    std::wstring folder = hostFolder();
    std::string recordingPath = options.recording.empty() ? narrow(folder) + "\\recordings\\signature.txt"
                                                          : options.recording;
    std::wstring outFolder = fullPathOf(options.outFolder.empty() ? L"." : widen(options.outFolder));
    DWORD outAttributes = GetFileAttributesW(outFolder.c_str());
    if (outAttributes == INVALID_FILE_ATTRIBUTES || !(outAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(ExitUsage, "the output folder " + narrow(outFolder) + " does not exist");

    std::string error;
    VirtualPadInput input;
    if (!input.load(recordingPath, error))
        return fail(ExitRecording, error);

    ComInitialization com;
    INITCOMMONCONTROLSEX commonControls = {sizeof commonControls, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&commonControls);

    if (options.registerComponents) {
        for (const wchar_t* file : componentFiles) {
            if (!registerServer(folder + L"\\" + file, error))
                return fail(ExitControl, error);
        }
    }

    UniqueWindow frame = createFrameWindow();
    if (!frame)
        return fail(ExitControl, "cannot create the host's frame window: " +
                                     describeResult(HRESULT_FROM_WIN32(GetLastError())) + " (is a display set?)");
    ComPtr<SignatureSink> sink = SignatureSink::create();
    if (!sink)
        return fail(ExitControl, "cannot create the host's event sink");
    PadHost host(frame.get(), sink.get());
    if (!host.createByProgId(controlProgId, error))
        return fail(ExitControl, error);
    printf("Control %s created from %s\n", narrow(controlProgId).c_str(), narrow(host.modulePath()).c_str());

    if (options.plugInPad)
        input.plugIn();
    // A failed Load has already shown the control's own message to the user.
    bool loaded = host.load();
    if (options.showSettings) {
        std::string change = host.showSettings();
        if (!change.empty())
            printf("%s\n", change.c_str());
        loaded = host.isLoaded();
    }
    if (!loaded)
        return fail(ExitLoad, "the control's Load failed: no signature pad was found, or it did not open");

    ISignaturePad* pad = host.control();
    printf("Pad \"%s\": %ld x %ld, %.2f x %.2f inches\n", pad->DeviceName(), pad->Width(), pad->Height(),
        pad->WidthInInches(), pad->HeightInInches());
    printf("Signing with %s (%.1f s); the pad's ok button ends it...\n", recordingPath.c_str(),
        input.durationMs() / 1000.0);

    host.start();
    if (!input.startWriting(error))
        return fail(ExitRecording, error);
    bool ok = waitForOk(*sink.get(), input);
    host.stopAndUnload();
    if (!ok)
        return fail(ExitCapture, "the pad's input ended without its ok button; no signature was completed");

    Signature signature = sink->signature();
    if (signature.strokes.empty())
        return fail(ExitCapture, "ok was pressed on an empty pad; no signature was captured");

    ImageLayout layout;
    layout.padWidth = pad->Width();
    layout.padHeight = pad->Height();
    layout.widthInches = pad->WidthInInches();
    layout.heightInches = pad->HeightInInches();
    layout.inkColor = pad->InkColor();
    layout.inkWeight = pad->InkWeight();
    host.release();

    std::wstring svgPath = outFolder + L"\\signature.svg";
    std::wstring pngPath = outFolder + L"\\signature.png";
    if (!(error = writeSignatureSvg(svgPath, signature, layout)).empty() ||
        !(error = writeSignaturePng(pngPath, signature, layout)).empty())
        return fail(ExitImage, error);

    printf("Signature captured: %lu strokes, %lu points, %.2f s\n",
        static_cast<unsigned long>(signature.strokes.size()), static_cast<unsigned long>(signature.pointCount()),
        signature.durationMs / 1000.0);
    printImage("SVG", svgPath);
    printImage("PNG", pngPath);
    return ExitSuccess;
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
