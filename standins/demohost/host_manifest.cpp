// Registration-free activation of the control through the host's manifest.
#include "host_manifest.h"

#include <windows.h>

#include "text.h"

bool HostManifest::activate(const std::wstring& path, std::string& error)
{
    std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
    ACTCTXW request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_ASSEMBLY_DIRECTORY_VALID;
    request.lpSource = path.c_str();
    request.lpAssemblyDirectory = folder.c_str();
    context.reset(CreateActCtxW(&request));
    if (!context) {
        error = "cannot use the host's manifest " + narrow(path) + ": " +
                describeResult(HRESULT_FROM_WIN32(GetLastError())) +
                "; it and the assembly manifests it names (Tallowmark.SignaturePad.manifest beside SignaturePad.dll, "
                "Prelvane.manifest beside Prelvane.dll) must be in the host's folder";
        return false;
    }
    activation.emplace(context.get());
    if (!*activation) {
        error = "cannot activate the host's manifest " + narrow(path) + ": " +
                describeResult(HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    return true;
}
