#include "testing.h"

#include <shlobj.h>
#include <fstream>
#include <memory>
#include <sstream>

ControlLibrary::ControlLibrary(const std::string& path) : handle(LoadLibraryA(path.c_str()))
{
    EXPECT_NE(handle, nullptr) << "cannot load " << path << ", error " << GetLastError();
}

ControlLibrary::ControlLibrary(const std::wstring& path) : handle(LoadLibraryW(path.c_str()))
{
    EXPECT_NE(handle, nullptr) << "cannot load a copy of the control, error " << GetLastError();
}

ControlLibrary::~ControlLibrary()
{
    if (handle)
        FreeLibrary(handle);
}

FARPROC ControlLibrary::entry(const char* name) const
{
    return handle ? GetProcAddress(handle, name) : nullptr;
}

HRESULT ControlLibrary::getClassObject(REFCLSID clsid, REFIID riid, void** object) const
{
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto function = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(entry("DllGetClassObject")));
    if (!function)
        return E_FAIL;
    return function(clsid, riid, object);
}

ComPtr<ISignaturePad> ControlLibrary::create() const
{
    ComPtr<ISignaturePad> pad;
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(CLSID_TallowmarkSignaturePad, IID_IClassFactory, factory.putVoid());
    EXPECT_EQ(hr, S_OK);
    if (SUCCEEDED(hr)) {
        hr = factory->CreateInstance(nullptr, IID_ISignaturePad, pad.putVoid());
        EXPECT_EQ(hr, S_OK);
    }
    return pad;
}

const ControlLibrary& control()
{
    static ControlLibrary library;
    return library;
}

bool RecordingSink::Event::operator==(const Event& other) const
{
    return kind == other.kind && x == other.x && y == other.y && inkWeight == other.inkWeight;
}

STDMETHODIMP TestSink::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ISignaturePadEvents))
        return E_NOINTERFACE;
    *object = static_cast<ISignaturePadEvents*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP RecordingSink::PenDown()
{
    record(penDown());
    return eventResult;
}

STDMETHODIMP RecordingSink::PenUp()
{
    record(penUp());
    return eventResult;
}

STDMETHODIMP RecordingSink::PenPoint(LONG x, LONG y, float inkWeight)
{
    record(penPoint(x, y, inkWeight));
    return eventResult;
}

STDMETHODIMP RecordingSink::OptionSelected(LONG optionNumber)
{
    record(optionSelected(optionNumber));
    return eventResult;
}

STDMETHODIMP RecordingSink::ItemSelected(LONG controlId, BSTR)
{
    Event event{Event::ItemSelected};
    event.x = controlId;
    record(event);
    return eventResult;
}

void RecordingSink::record(const Event& event)
{
    Event stamped = event;
    stamped.threadId = GetCurrentThreadId();
    ExclusiveGuard guard(lock);
    log.push_back(stamped);
    WakeAllConditionVariable(&changed);
}

std::vector<RecordingSink::Event> RecordingSink::events() const
{
    SharedGuard guard(lock);
    return log;
}

size_t RecordingSink::count() const
{
    SharedGuard guard(lock);
    return log.size();
}

bool RecordingSink::waitForCount(size_t n, DWORD timeoutMs) const
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    auto& self = const_cast<RecordingSink&>(*this);
    ExclusiveGuard guard(self.lock);
    while (self.log.size() < n) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        SleepConditionVariableSRW(&self.changed, self.lock.native(),
                                  static_cast<DWORD>(deadline - now), 0);
    }
    return true;
}

void RecordingSink::clear()
{
    ExclusiveGuard guard(lock);
    log.clear();
}

RecordingSink::Event penDown() { return {RecordingSink::Event::PenDown}; }
RecordingSink::Event penUp() { return {RecordingSink::Event::PenUp}; }

RecordingSink::Event penPoint(LONG x, LONG y, float inkWeight)
{
    RecordingSink::Event event{RecordingSink::Event::PenPoint};
    event.x = x;
    event.y = y;
    event.inkWeight = inkWeight;
    return event;
}

RecordingSink::Event optionSelected(LONG option)
{
    RecordingSink::Event event{RecordingSink::Event::OptionSelected};
    event.x = option;
    return event;
}

void PrintTo(const RecordingSink::Event& event, std::ostream* os)
{
    static const char* const names[] = {"PenDown", "PenUp", "PenPoint", "OptionSelected", "ItemSelected"};
    *os << names[event.kind];
    if (event.kind == RecordingSink::Event::PenPoint)
        *os << "(" << event.x << ", " << event.y << ", " << event.inkWeight << ")";
    else if (event.kind != RecordingSink::Event::PenDown && event.kind != RecordingSink::Event::PenUp)
        *os << "(" << event.x << ")";
}

namespace {
struct WindowSearch {
    const char* caption;
    DWORD threadId;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    if (search->threadId && GetWindowThreadProcessId(window, nullptr) != search->threadId)
        return TRUE;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    if (windowText(window) != search->caption)
        return TRUE;
    search->found = window;
    return FALSE;
}
} // namespace

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(pollMs);
    }
}

HWND waitForWindow(const char* caption, DWORD timeoutMs, DWORD threadId)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        WindowSearch search{caption, threadId, nullptr};
        EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount64() >= deadline)
            return search.found;
        Sleep(10);
    }
}

std::string windowText(HWND window)
{
    char text[2048] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string dialogItemText(HWND dialog, int id)
{
    char text[2048] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::string commonAppDataFolder()
{
    char folder[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder);
    return folder;
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string versionString(const std::string& path, const char* name)
{
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
    std::vector<char> info(size);
    if (!size || !GetFileVersionInfoA(path.c_str(), 0, size, info.data()))
        return std::string();
    char* value = nullptr;
    UINT length = 0;
    std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !length)
        return std::string();
    return std::string(value, strnlen(value, length));
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string testExecutableFolder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
}

WindowWatcher::WindowWatcher(const char* caption, std::function<void(HWND)> action, DWORD timeoutMs)
    : WindowWatcher([text = std::string(caption)](HWND window) { return windowText(window) == text; },
                    std::move(action), timeoutMs)
{
}

WindowWatcher::WindowWatcher(std::function<bool(HWND)> matches, std::function<void(HWND)> action, DWORD timeoutMs)
    : matches(std::move(matches)), action(std::move(action)), timeoutMs(timeoutMs),
      thread(CreateThread(nullptr, 0, watch, this, 0, nullptr))
{
    EXPECT_TRUE(thread) << GetLastError();
}

WindowWatcher::~WindowWatcher()
{
    finish();
}

DWORD WINAPI WindowWatcher::watch(void* parameter)
{
    auto* self = static_cast<WindowWatcher*>(parameter);
    struct Search {
        WindowWatcher* self;
        HWND found;
    } search = {self, nullptr};
    ULONGLONG deadline = GetTickCount64() + self->timeoutMs;
    for (;;) {
        EnumWindows([](HWND window, LPARAM parameter) -> BOOL {
            auto* search = reinterpret_cast<Search*>(parameter);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process != GetCurrentProcessId() || !IsWindowVisible(window) || !search->self->matches(window))
                return TRUE;
            search->found = window;
            return FALSE;
        }, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount64() >= deadline)
            break;
        Sleep(10);
    }
    HWND window = search.found;
    self->windowFound = window != nullptr;
    self->action(window);
    return 0;
}

// The watcher reads window texts, which the windows' own thread answers:
// that thread keeps dispatching its messages until the watcher is done.
void WindowWatcher::finish()
{
    if (!thread)
        return;
    HANDLE handle = thread.get();
    while (MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    thread.reset();
}

bool WindowWatcher::found()
{
    finish();
    return windowFound;
}

std::wstring extendedPath(const std::string& path)
{
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

namespace {

// Deletes a folder and everything in it; what cannot be deleted is a fault
// of the test that made it.
void removeTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(path);
            else
                EXPECT_TRUE(DeleteFileW(path.c_str())) << "cannot delete a file the test made: " << GetLastError();
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << "cannot remove a folder the test made: " << GetLastError();
}

} // namespace

ScratchFolder::ScratchFolder(const std::string& name, size_t minimumLength)
{
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    root = folder = std::string(temp) + name + "-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryW(extendedPath(folder).c_str(), nullptr);
    while (folder.size() <= minimumLength) {
        folder += "\\" + std::string(60, 'x');
        CreateDirectoryW(extendedPath(folder).c_str(), nullptr);
    }
}

ScratchFolder::~ScratchFolder()
{
    removeTree(extendedPath(root));
}

namespace {

class ScratchEnvironment : public testing::Environment {
public:
    void TearDown() override { folder.reset(); }

    std::unique_ptr<ScratchFolder> folder;
};

ScratchEnvironment* const scratchEnvironment =
    static_cast<ScratchEnvironment*>(testing::AddGlobalTestEnvironment(new ScratchEnvironment));

} // namespace

const ScratchFolder& programScratch()
{
    if (!scratchEnvironment->folder)
        scratchEnvironment->folder = std::make_unique<ScratchFolder>("tallowmark-tests");
    return *scratchEnvironment->folder;
}

std::string scratchFolder(const std::string& name)
{
    std::string path = programScratch().file(name);
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

const wchar_t foreignFolderName[] = L"\u041F\u043E\u0434\u043F\u0438\u0441\u044C \u03A3\u03AE\u03BC\u03B1 \u7B7E\u540D";
const wchar_t foreignBaseName[] = L"\u03A3\u03AE\u03BC\u03B1";

std::wstring foreignControlPath()
{
    return std::wstring(foreignFolderName) + L"\\" + foreignBaseName + L".dll";
}

namespace {

// A path in the "\\?\" form only where it needs that form: the loader keeps
// the form a module was loaded by in the module's path.
std::wstring usablePath(const std::wstring& path)
{
    return path.size() < MAX_PATH ? path : L"\\\\?\\" + path;
}

// Makes the folders of `relativePath` inside the scratch folder, copies the
// built control to the file it names, and gives that file's path back.
std::wstring copiedControl(const ScratchFolder& folder, const std::wstring& relativePath)
{
    std::wstring root(folder.path().begin(), folder.path().end());
    for (size_t end = relativePath.find(L'\\'); end != std::wstring::npos; end = relativePath.find(L'\\', end + 1))
        CreateDirectoryW(usablePath(root + L"\\" + relativePath.substr(0, end)).c_str(), nullptr);
    std::wstring target = usablePath(root + L"\\" + relativePath);
    std::wstring source = extendedPath(testExecutableFolder() + "\\" + controlFileName);
    EXPECT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << "cannot copy the control, error " << GetLastError();
    return target;
}

} // namespace

ControlCopy::ControlCopy(const std::string& scratchName, const std::wstring& relativePath, size_t minimumLength)
    : folder(scratchName, minimumLength), path(copiedControl(folder, relativePath)), library(path)
{
}
