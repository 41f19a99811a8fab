// Registration of the control and the properties component with regsvr32.
#include "registration.h"

#include <windows.h>

#include "handles.h"
#include "text.h"

namespace {
constexpr DWORD registrationTimeoutMs = 60000;
}

bool registerServer(const std::wstring& path, std::string& error)
{
    wchar_t system[MAX_PATH] = L"";
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (!length || length >= MAX_PATH) {
        error = "cannot find the system folder that holds regsvr32.exe";
        return false;
    }
    std::wstring program = std::wstring(system) + L"\\regsvr32.exe";
    std::wstring commandLine = L"\"" + program + L"\" /s \"" + path + L"\"";

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
            &process)) {
        error = "cannot run regsvr32: " + describeResult(HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.get(), registrationTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.get(), 1);
        error = "regsvr32 did not finish registering " + narrow(path);
        return false;
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(processHandle.get(), &exitCode);
    if (exitCode != 0) {
        error = "regsvr32 could not register " + narrow(path) + " (exit code " + std::to_string(exitCode) +
                "); registering writes under HKEY_CLASSES_ROOT and needs administrator rights";
        return false;
    }
    return true;
}
