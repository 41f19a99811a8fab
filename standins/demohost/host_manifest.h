// The host's own application manifest, demohost.manifest beside the host:
// while it is active on the host's thread, COM finds the control and the
// properties component through their assembly manifests in the host's
// folder, and nothing needs to be registered.
//
// The host activates it itself rather than naming it demohost.exe.manifest,
// which Windows and Wine apply to the whole process from its start: with
// --register the host must find the components through the registry, and a
// process's own manifest cannot be switched off.
#pragma once

#include <optional>
#include <string>

#include "handles.h"

class HostManifest {
public:
    // Reads the manifest, with the assemblies it depends on from its folder,
    // and activates it on the calling thread until this object goes. False,
    // with error, when the manifest or one of its assemblies cannot be used.
    bool activate(const std::wstring& path, std::string& error);

private:
    UniqueActivationContext context;
    std::optional<ScopedActivation> activation;
};
