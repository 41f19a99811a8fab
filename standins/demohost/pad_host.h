// The control as the host holds it: created by its ProgID, or from another
// pad module when the settings page switches pad families; with the host's
// sink advised on its connection point, the host's frame window given and
// the host's services passed to Load. Everything here runs on the host's
// thread; only the sink is called on the pad's reader thread.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>

#include "SignaturePad_h.h"
#include "handles.h"
#include "host_services.h"
#include "signature_image.h"
#include "signature_sink.h"

class PadHost {
public:
    PadHost(HWND frame, SignatureSink* sink);
    ~PadHost();
    PadHost(const PadHost&) = delete;
    PadHost& operator=(const PadHost&) = delete;

    // Each replaces any control held so far. False, with error, on failure.
    bool createByProgId(const wchar_t* progId, std::string& error);
    bool createFromModule(const std::wstring& modulePath, std::string& error);

    // The control's Load with the host's frame and services; false when the
    // control reports that it found no pad or could not open it.
    bool load();
    bool isLoaded() const { return loaded; }
    void start();
    void stopAndUnload();
    // Stops and unloads the control, withdraws the sink and lets it go.
    void release();

    // Shows the control's settings sheet (modal) and then carries out a
    // change of pad module that its page asked for. Returns what happened
    // to such a request, empty when there was none.
    std::string showSettings();
    // Switches to the named pad module when it can be found beside the host
    // or on the search path; otherwise keeps the current one. Returns what
    // was done, for the user.
    std::string changePad(const std::wstring& moduleName);

    ISignaturePad* control() const { return pad.get(); }
    // The pad's range and the control's ink and size settings, as the
    // images and the signing window draw with them.
    ImageLayout imageLayout() const;
    HWND frameWindow() const { return frame; }
    // The file the current control was loaded from: full path, file name.
    const std::wstring& modulePath() const { return padModulePath; }
    std::wstring moduleFile() const;

    // From the services object: remembered until the settings sheet closes,
    // because a host must not unload a control from inside its own call.
    void requestPadChange(const wchar_t* moduleName) { pendingPadChange = moduleName; }

private:
    bool attach(ComPtr<ISignaturePad> created, std::string& error);

    HWND frame;
    ComPtr<SignatureSink> sink;
    HostServices services;
    ComPtr<ISignaturePad> pad;
    ComPtr<IConnectionPoint> connectionPoint;
    DWORD cookie = 0;
    bool loaded = false;
    std::wstring padModulePath;
    std::wstring pendingPadChange;
};
