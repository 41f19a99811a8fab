#include "settings_sheet.h"

#include <commctrl.h>
#include <wincodec.h>
#include <thread>

#include "virtualpad.h"

void SettingsTest::SetUp()
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&classes);
    SetCursorPos(parkedPointer.x, parkedPointer.y);
    removeSettingsFile();
    vpad_connect(nullptr);
    vpad_set_coordinate_range(padWidth, padHeight);
    pad = control().create();
    ASSERT_TRUE(pad);
    char name[] = "";
    pad->Load(name, nullptr, &services);
    properties = propertiesOf(pad.get());
    ASSERT_TRUE(properties);
}

// The control saves its settings when it goes: release it first.
void SettingsTest::TearDown()
{
    properties.reset();
    pad.reset();
    removeSettingsFile();
}

void removeSettingsFile()
{
    DeleteFileA((commonAppDataFolder() + "\\Tallowmark\\Settings\\SignaturePad.settings").c_str());
}

STDMETHODIMP RecordingServices::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ITallowmarkServices))
        return E_NOINTERFACE;
    *object = static_cast<ITallowmarkServices*>(this);
    return S_OK;
}

STDMETHODIMP RecordingServices::GetHostWindow(HWND* window)
{
    *window = nullptr;
    return S_OK;
}

STDMETHODIMP RecordingServices::GetActivePadModule(BSTR* moduleName)
{
    *moduleName = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP RecordingServices::SetStatusText(LPCWSTR) { return S_OK; }
STDMETHODIMP RecordingServices::Refresh() { return S_OK; }

STDMETHODIMP RecordingServices::ChangeSignaturePad(LPCWSTR moduleName)
{
    ExclusiveGuard guard(lock);
    changes.emplace_back(moduleName ? moduleName : L"(null)");
    return S_OK;
}

std::vector<std::wstring> RecordingServices::padChanges() const
{
    SharedGuard guard(lock);
    return changes;
}

bool waitForClosed(HWND window, DWORD timeoutMs)
{
    return waitUntil([window] { return !IsWindow(window); }, timeoutMs);
}

HWND waitForDialog(DWORD thread, const char* caption, DWORD timeoutMs)
{
    return waitForWindow(caption, timeoutMs, thread);
}

namespace {

std::string className(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct ThreadDialogs {
    std::vector<HWND> windows;
};

BOOL CALLBACK collectDialog(HWND window, LPARAM parameter)
{
    if (IsWindowVisible(window) && className(window) == "#32770")
        reinterpret_cast<ThreadDialogs*>(parameter)->windows.push_back(window);
    return TRUE;
}

std::vector<HWND> visibleDialogsOf(DWORD thread)
{
    ThreadDialogs dialogs;
    EnumThreadWindows(thread, collectDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs.windows;
}

HWND waitForSheet(DWORD thread)
{
    HWND found = nullptr;
    waitUntil([&] {
        for (HWND window : visibleDialogsOf(thread)) {
            if (windowText(window).rfind(" Properties", 0) == 0)
                found = window;
        }
        return found != nullptr;
    }, 15000);
    return found;
}

// Ends one dialog the way its own buttons would.
void cancelDialog(HWND dialog)
{
    std::string caption = windowText(dialog);
    WPARAM command = caption == "Origin Point" ? 902 : caption == "Ink" ? 1002 : IDCANCEL;
    PostMessageA(dialog, WM_COMMAND, command, 0);
    if (!waitForClosed(dialog, 2000))
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    waitForClosed(dialog, 2000);
}

// Closes every dialog the page's thread shows, innermost first, then the sheet.
void closeLeftovers(DWORD thread, HWND sheet)
{
    for (int round = 0; round < 10; ++round) {
        std::vector<HWND> dialogs = visibleDialogsOf(thread);
        std::vector<HWND> innermost;
        for (HWND dialog : dialogs) {
            bool ownsAnother = false;
            for (HWND other : dialogs)
                ownsAnother = ownsAnother || GetWindow(other, GW_OWNER) == dialog;
            if (!ownsAnother && dialog != sheet)
                innermost.push_back(dialog);
        }
        if (innermost.empty())
            break;
        for (HWND dialog : innermost)
            cancelDialog(dialog);
    }
    if (IsWindow(sheet)) {
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        waitForClosed(sheet);
    }
}

} // namespace

HRESULT showSettingsSheet(ISignaturePad* pad, const std::function<void(const SettingsSheet&)>& drive)
{
    DWORD pageThread = GetCurrentThreadId();
    std::thread driver([&] {
        HWND sheet = waitForSheet(pageThread);
        if (!sheet) {
            ADD_FAILURE() << "the settings sheet did not open";
            // Should it still come, it must not hold ShowProperties forever.
            if (HWND late = waitForSheet(pageThread))
                closeLeftovers(pageThread, late);
            return;
        }
        HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        if (page)
            drive({sheet, page, pageThread});
        else
            ADD_FAILURE() << "the settings sheet has no page";
        closeLeftovers(pageThread, sheet);
    });
    HRESULT result = pad->ShowProperties();
    driver.join();
    return result;
}

// The sheet's modal loop looks at whether it has ended only after a posted
// message, so OK and Cancel are posted; Apply is sent, to be done on return.
void pressSheetButton(const SettingsSheet& sheet, int button)
{
    if (button != PSBTN_OK && button != PSBTN_CANCEL) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(sheet.sheet, PSM_PRESSBUTTON, button, 0, SMTO_NORMAL, 5000, &ignored);
        return;
    }
    PostMessageA(sheet.sheet, PSM_PRESSBUTTON, button, 0);
    EXPECT_TRUE(waitForClosed(sheet.sheet)) << "the sheet stayed open";
}

namespace {

// A message posted after the one to flush: when the window's thread takes it
// from its queue, everything posted before it has been handled.
const UINT flushMessage = RegisterWindowMessageA("Tallowmark settings test flush");
HANDLE flushSeen = CreateEventA(nullptr, FALSE, FALSE, nullptr);

LRESULT CALLBACK watchForFlush(int code, WPARAM removal, LPARAM parameter)
{
    const auto* message = reinterpret_cast<const MSG*>(parameter);
    if (code >= 0 && removal == PM_REMOVE && message->message == flushMessage)
        SetEvent(flushSeen);
    return CallNextHookEx(nullptr, code, removal, parameter);
}

} // namespace

void postAndFlush(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    UniqueHook hook(SetWindowsHookExA(WH_GETMESSAGE, watchForFlush, nullptr, thread));
    ASSERT_TRUE(hook);
    ResetEvent(flushSeen);
    PostMessageA(window, message, wParam, lParam);
    PostMessageA(window, flushMessage, 0, 0);
    EXPECT_EQ(WaitForSingleObject(flushSeen, 5000), WAIT_OBJECT_0) << "message " << message << " was not handled";
}

void postClick(HWND dialog, int controlId)
{
    PostMessageA(GetDlgItem(dialog, controlId), BM_CLICK, 0, 0);
}

COLORREF pixelAt(HWND window, int x, int y)
{
    WindowDc dc(window);
    return GetPixel(dc.get(), x, y);
}

bool isEnabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

bool isVisible(HWND dialog, int id)
{
    return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE;
}

RECT clientRectOf(HWND control)
{
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT dialogUnits(HWND dialog, int x, int y, int width, int height)
{
    RECT rect = {x, y, x + width, y + height};
    MapDialogRect(dialog, &rect);
    return rect;
}

ComPtr<IPrelvane> propertiesOf(ISignaturePad* pad)
{
    ComPtr<IUnknown> pages;
    ComPtr<IPrelvane> properties;
    EXPECT_EQ(pad->QueryInterface(IID_ISpecifyPropertyPages, pages.putVoid()), S_OK);
    if (pages) {
        EXPECT_EQ(pages->QueryInterface(IID_IPrelvane, properties.putVoid()), S_OK);
    }
    return properties;
}

long snapshotDepth(IPrelvane* properties)
{
    long depth = -1;
    EXPECT_TRUE(properties && properties->GetSnapshotDepth(&depth) == S_OK);
    return depth;
}

long saveCount(IPrelvane* properties)
{
    long saves = -1;
    EXPECT_TRUE(properties && properties->GetSaveCount(&saves) == S_OK);
    return saves;
}

NonAdministratorThread::NonAdministratorThread()
{
    UniqueHandle processToken;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY,
                          processToken.put()))
        return;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                  0, 0, 0, 0, 0, 0, administrators.put()))
        return;
    SID_AND_ATTRIBUTES denyOnly = {administrators.get(), 0};
    UniqueHandle restricted;
    UniqueHandle impersonation;
    if (!CreateRestrictedToken(processToken.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, restricted.put()) ||
        !DuplicateToken(restricted.get(), SecurityImpersonation, impersonation.put()))
        return;
    impersonating = SetThreadToken(nullptr, impersonation.get()) != FALSE;
}

NonAdministratorThread::~NonAdministratorThread()
{
    if (impersonating)
        RevertToSelf();
}

bool saveWindowImage(HWND window, const std::string& path)
{
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    WindowDc screen(nullptr);
    HDC memory = CreateCompatibleDC(screen.get());
    UniqueGdiObject bitmap(CreateCompatibleBitmap(screen.get(), width, height));
    HGDIOBJ previous = SelectObject(memory, bitmap.get());
    BitBlt(memory, 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);

    ComInitialization com;     // the driver thread has no apartment of its own
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmap> image;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    std::wstring widePath(path.begin(), path.end());
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, factory.putVoid())) &&
           SUCCEEDED(factory->CreateBitmapFromHBITMAP(static_cast<HBITMAP>(bitmap.get()), nullptr,
                                                      WICBitmapIgnoreAlpha, image.put())) &&
           SUCCEEDED(factory->CreateStream(stream.put())) &&
           SUCCEEDED(stream->InitializeFromFilename(widePath.c_str(), GENERIC_WRITE)) &&
           SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) &&
           SUCCEEDED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) &&
           SUCCEEDED(encoder->CreateNewFrame(frame.put(), nullptr)) &&
           SUCCEEDED(frame->Initialize(nullptr)) &&
           SUCCEEDED(frame->SetSize(width, height)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
           SUCCEEDED(frame->WriteSource(image.get(), nullptr)) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}
