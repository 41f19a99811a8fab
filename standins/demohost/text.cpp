// Text conversions of the host, in the active ANSI code page like the
// control's own strings.
#include "text.h"

#include <cstdio>

std::wstring widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &result[0], length, nullptr, nullptr);
    return result;
}

std::string describeResult(HRESULT result)
{
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    char message[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(result), 0, message, sizeof message, nullptr);
    while (length && (message[length - 1] == '\n' || message[length - 1] == '\r' || message[length - 1] == ' ' ||
                         message[length - 1] == '.'))
        message[--length] = 0;
    if (!length)
        return code;
    return std::string(code) + " (" + message + ")";
}

std::string unixPathOf(const std::wstring& path)
{
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto unixFileName = kernel ? reinterpret_cast<UnixFileName>(
                                     reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")))
                               : nullptr;
    if (!unixFileName)
        return std::string();
    char* name = unixFileName(path.c_str());
    if (!name)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}
