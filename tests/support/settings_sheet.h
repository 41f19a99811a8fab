// Helpers of the settings page and dialog tests: a host services object
// that records what the page asks of it, the settings sheet shown through
// ShowProperties and driven from a second thread, window and pixel helpers,
// and a thread token without the Administrators group.
#pragma once

#include "testing.h"

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

// The host's services object: records every ChangeSignaturePad call.
class RecordingServices : public ITallowmarkServices {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }     // lives on the test's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetHostWindow(HWND* window) override;
    STDMETHODIMP GetActivePadModule(BSTR* moduleName) override;
    STDMETHODIMP SetStatusText(LPCWSTR text) override;
    STDMETHODIMP Refresh() override;
    STDMETHODIMP ChangeSignaturePad(LPCWSTR moduleName) override;

    std::vector<std::wstring> padChanges() const;

private:
    mutable SlimLock lock;
    std::vector<std::wstring> changes;
};

// A control loaded with the recording services and a virtual pad of 320 by
// 200 pad units, and its properties component. The pointer is parked at the
// top-left of the screen: the dialogs open beside it, so it is never over
// them and only the messages a test posts reach them. Every test starts and
// ends without a settings file, so none sees what another saved.
class SettingsTest : public ::testing::Test {
protected:
    static constexpr int padWidth = 320;
    static constexpr int padHeight = 200;
    static constexpr POINT parkedPointer = {40, 40};

    void SetUp() override;
    void TearDown() override;

    ComApartment com;
    RecordingServices services;
    ComPtr<ISignaturePad> pad;
    ComPtr<IPrelvane> properties;
};

// Removes the settings file of the control's module.
void removeSettingsFile();

// The sheet that ShowProperties shows and its one page.
struct SettingsSheet {
    HWND sheet;
    HWND page;
    DWORD pageThread;
};

// Calls ShowProperties on the calling thread and, on a second thread, waits
// for the sheet and hands it to drive. Whatever drive leaves open is closed
// (dialogs first, then the sheet with Cancel) so the call always returns.
// Returns what ShowProperties returned.
HRESULT showSettingsSheet(ISignaturePad* pad, const std::function<void(const SettingsSheet&)>& drive);

// Presses a sheet button (PSBTN_OK, PSBTN_CANCEL, PSBTN_APPLYNOW); OK and
// Cancel wait until the sheet is gone.
void pressSheetButton(const SettingsSheet& sheet, int button);

// A window hook, removed when it goes out of scope.
struct HookTraits {
    using Type = HHOOK;
    static Type invalid() { return nullptr; }
    static void close(Type hook) { UnhookWindowsHookEx(hook); }
};
using UniqueHook = UniqueResource<HookTraits>;

// Posts a message and waits until the window's thread has handled it and
// every message posted before it.
void postAndFlush(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Clicks a button of a window of another thread without waiting for what the
// click opens (a modal dialog would hold a sent message).
void postClick(HWND dialog, int controlId);

// A visible top-level window of the given thread with this exact caption.
HWND waitForDialog(DWORD thread, const char* caption, DWORD timeoutMs = 5000);
// Waits until the window is destroyed; false on timeout.
bool waitForClosed(HWND window, DWORD timeoutMs = 5000);

// The colour at a client point of a window, as painted.
COLORREF pixelAt(HWND window, int x, int y);
bool isEnabled(HWND dialog, int id);
bool isVisible(HWND dialog, int id);
// The rectangle of a control in its parent's client coordinates.
RECT clientRectOf(HWND control);
// A dialog-unit rectangle (x, y, width, height) in pixels for this dialog.
RECT dialogUnits(HWND dialog, int x, int y, int width, int height);

// The properties component behind the control, reached through the
// ISpecifyPropertyPages that the control forwards to it.
ComPtr<IPrelvane> propertiesOf(ISignaturePad* pad);
long snapshotDepth(IPrelvane* properties);
long saveCount(IPrelvane* properties);

// The calling thread runs with a copy of the process token in which the
// Administrators group is deny-only, until the object goes.
class NonAdministratorThread {
public:
    NonAdministratorThread();
    ~NonAdministratorThread();
    NonAdministratorThread(const NonAdministratorThread&) = delete;
    NonAdministratorThread& operator=(const NonAdministratorThread&) = delete;
    bool active() const { return impersonating; }

private:
    bool impersonating = false;
};

// Writes the window as it is on the screen to a PNG file.
bool saveWindowImage(HWND window, const std::string& path);
