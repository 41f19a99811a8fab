// Shared helpers of the test programs: the control loaded from its built
// DLL, a recording event sink and window helpers.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <functional>
#include <string>
#include <vector>

#include "SignaturePad_h.h"
#include "Prelvane_h.h"
#include "TallowmarkServices_h.h"
#include "handles.h"
#include "sync.h"

// The control's file name next to the test programs.
constexpr const char* controlFileName = "SignaturePad.dll";

// COM initialised on the calling thread for the life of the object.
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) { EXPECT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, model))); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

// The built control DLL, loaded once per process (or from another path).
class ControlLibrary {
public:
    explicit ControlLibrary(const std::string& path = controlFileName);
    explicit ControlLibrary(const std::wstring& path);
    ~ControlLibrary();
    ControlLibrary(const ControlLibrary&) = delete;
    ControlLibrary& operator=(const ControlLibrary&) = delete;

    HMODULE module() const { return handle; }
    FARPROC entry(const char* name) const;
    // The class factory, straight from DllGetClassObject.
    HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** object) const;
    // A new control; fails the test when it cannot be made.
    ComPtr<ISignaturePad> create() const;

private:
    HMODULE handle;
};

// The process-wide instance loaded from the test programs' folder.
const ControlLibrary& control();

// The IUnknown of every test sink: it answers IUnknown and
// ISignaturePadEvents and counts the references taken on it, which never
// free it, since it lives in the test.
class TestSink : public ISignaturePadEvents {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refCount; }
    STDMETHODIMP_(ULONG) Release() override { return --refCount; }

    std::atomic<ULONG> refCount{0};
};

// Records every event it receives, on any thread, in order.
class RecordingSink : public TestSink {
public:
    struct Event {
        enum Kind { PenDown, PenUp, PenPoint, OptionSelected, ItemSelected } kind;
        LONG x = 0, y = 0;          // PenPoint; optionNumber in x for OptionSelected
        float inkWeight = 0.0f;
        DWORD threadId = 0;
        bool operator==(const Event& other) const;
    };

    RecordingSink() = default;
    RecordingSink(const RecordingSink&) = delete;
    RecordingSink& operator=(const RecordingSink&) = delete;
    virtual ~RecordingSink() = default;

    STDMETHODIMP PenDown() override;
    STDMETHODIMP PenUp() override;
    STDMETHODIMP PenPoint(LONG x, LONG y, float inkWeight) override;
    STDMETHODIMP OptionSelected(LONG optionNumber) override;
    STDMETHODIMP ItemSelected(LONG controlId, BSTR selectedItem) override;

    std::vector<Event> events() const;
    size_t count() const;
    // Waits until at least n events have arrived; false on timeout.
    bool waitForCount(size_t n, DWORD timeoutMs = 5000) const;
    void clear();

    // What each event method returns; a failure must not stop delivery.
    HRESULT eventResult = S_OK;

protected:
    virtual void record(const Event& event);

private:
    mutable SlimLock lock;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::vector<Event> log;
};

RecordingSink::Event penDown();
RecordingSink::Event penUp();
RecordingSink::Event penPoint(LONG x, LONG y, float inkWeight = 0.0f);
RecordingSink::Event optionSelected(LONG option);
void PrintTo(const RecordingSink::Event& event, std::ostream* os);

// Polls the condition every `pollMs`; false when it is still false at the end.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000, DWORD pollMs = 10);

// Window helpers for message boxes and dialogs.
HWND waitForWindow(const char* caption, DWORD timeoutMs = 5000, DWORD processThreadId = 0);
std::string windowText(HWND window);
std::string dialogItemText(HWND dialog, int id);

// Files and folders.
std::string commonAppDataFolder();
bool fileExists(const std::string& path);
std::string readFile(const std::string& path);
// A value of the file's version resource ("FileVersion", "ProductName"...),
// or "" when it has none.
std::string versionString(const std::string& path, const char* name);
std::string testExecutableFolder();

// Waits on its own thread for a visible window of this process with the
// given caption and runs `action` with it (with null when none appeared in
// time). Waiting for that thread, in found() or the destructor, keeps the
// calling thread's windows answering messages, so that a test showing a
// modal window keeps one of these alive around the call that blocks.
class WindowWatcher {
public:
    WindowWatcher(const char* caption, std::function<void(HWND)> action, DWORD timeoutMs = 5000);
    // The first visible top-level window of this process that `matches`.
    WindowWatcher(std::function<bool(HWND)> matches, std::function<void(HWND)> action, DWORD timeoutMs = 5000);
    ~WindowWatcher();
    WindowWatcher(const WindowWatcher&) = delete;
    WindowWatcher& operator=(const WindowWatcher&) = delete;

    // Whether the window appeared; waits for the thread first.
    bool found();

private:
    static DWORD WINAPI watch(void* parameter);
    void finish();

    std::function<bool(HWND)> matches;
    std::function<void(HWND)> action;
    DWORD timeoutMs;
    std::atomic<bool> windowFound{false};
    UniqueHandle thread;
};

// A folder of the test's own under the temporary folder, named after 'name'
// and this process, made as a chain of folders until its full path is longer
// than 'minimumLength' characters. It goes, with everything in it, when the
// object does: a module loaded from it must have been freed by then.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name, size_t minimumLength = 0);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The innermost folder, without the "\\?\" prefix a long one needs.
    const std::string& path() const { return folder; }
    std::string file(const std::string& name) const { return folder + "\\" + name; }

private:
    std::string root;
    std::string folder;
};

// A folder of the test program's own under the temporary folder, made when
// first asked for and removed with everything in it once the program's
// tests have run.
const ScratchFolder& programScratch();
// A folder of that name inside it, made if need be.
std::string scratchFolder(const std::string& name);

// The "\\?\" form of a path, which is not limited to MAX_PATH characters.
std::wstring extendedPath(const std::string& path);

// A folder name and a module base name in Cyrillic, Greek and Chinese,
// which the ANSI code page (1252 under Wine) has none of: the Russian word
// for signature, the Greek for sign and the Chinese for signature, and the
// Greek word alone.
extern const wchar_t foreignFolderName[];
extern const wchar_t foreignBaseName[];
// The control's copy in that folder under that name: "<folder>\<base>.dll".
std::wstring foreignControlPath();

// A copy of the built control at `relativePath` (a file name, or a folder and
// a file name) in a scratch folder longer than `minimumLength`, loaded from
// there. It is unloaded before the folder goes.
class ControlCopy {
public:
    ControlCopy(const std::string& scratchName, const std::wstring& relativePath, size_t minimumLength = 0);

    ScratchFolder folder;
    std::wstring path;          // the copy's full path, as it was loaded
    ControlLibrary library;
};
