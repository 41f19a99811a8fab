#include "unwritable_path.h"

#include <windows.h>

#include <utility>

#include "handles.h"

namespace {

using UnixFileName = char*(CDECL*)(const WCHAR*);

// The Unix name of a Windows path when this process runs under Wine, else empty.
std::string unixFileName(const std::string& path)
{
    auto convert = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert)
        return std::string();
    WCHAR wide[MAX_PATH] = L"";
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char* name = convert(wide);
    if (!name)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

bool isFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Runs chattr on the Unix file through Wine's start of Unix programs, and
// waits until the path is (or is no longer) writable: Wine does not wait for
// a Unix program's exit.
bool changeImmutableFlag(const std::string& path, bool immutable)
{
    std::string unixName = unixFileName(path);
    if (unixName.empty())
        return false;
    std::string command = std::string("chattr ") + (immutable ? "+i" : "-i") + " \"" + unixName + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA("Z:\\usr\\bin\\chattr", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
            &process))
        return false;
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    ULONGLONG deadline = GetTickCount64() + 5000;
    while (UnwritablePath::writable(path) == immutable) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(10);
    }
    return true;
}

} // namespace

UnwritablePath::UnwritablePath(std::string path) : path(std::move(path))
{
    DWORD attributes = GetFileAttributesA(this->path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(this->path.c_str(), attributes | FILE_ATTRIBUTE_READONLY);
    if (writable(this->path))
        changeImmutableFlag(this->path, true);
}

UnwritablePath::~UnwritablePath()
{
    makeWritable(path);
}

bool UnwritablePath::writable(const std::string& path)
{
    if (isFolder(path)) {
        std::string probe = path + "\\writable-probe.tmp";
        UniqueFile file(CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        return static_cast<bool>(file);
    }
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

void makeWritable(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (!unixFileName(path).empty() && !UnwritablePath::writable(path))
        changeImmutableFlag(path, false);
    attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}
