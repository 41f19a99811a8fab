// The demo host's signing window: a signing area in the pad's proportions
// where the ink appears while the signer writes, the buttons OK, Clear and
// Settings..., and a status line.
//
// The sink gathers the ink on the pad's reader thread and posts a message;
// the window, on the host's thread, takes what is new and draws only the new
// segments into its back buffer and from there onto the screen. A resize, a
// clearing or new settings draw the whole signature again. Every call on the
// control is made here, on the host's thread.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "handles.h"
#include "ink_latency.h"
#include "signature.h"
#include "signature_image.h"

class PadHost;
class SignatureSink;

class SigningWindow {
public:
    // The ids of the window's children.
    enum ChildId : int { AreaId = 100, OkId = IDOK, ClearId = 101, SettingsId = 102, StatusId = 103 };
    static constexpr const wchar_t* caption = L"Tallowmark demo host - signing";

    // What OK does with a completed signature: writes its images. Returns the
    // text for the status line and sets `saved` when they were written.
    using SaveImages = std::function<std::string(const Signature&, const ImageLayout&, bool& saved)>;

    explicit SigningWindow(SaveImages save);
    ~SigningWindow();
    SigningWindow(const SigningWindow&) = delete;
    SigningWindow& operator=(const SigningWindow&) = delete;

    // Creates and shows the window; false when it cannot be made.
    bool create();
    HWND handle() const { return frame.get(); }

    // The host's control is loaded: shows its pad and starts capture.
    void startCapture(PadHost& host, SignatureSink& sink);
    // The control's Load found no pad, or could not open it.
    void showNoPad();
    // Handles the thread's messages until the window is closed.
    void run();

    bool saved() const { return savedOnce; }
    InkLatency& latency() { return inkLatency; }

private:
    enum class State { Starting, NoPad, Capturing, Saved };

    static LRESULT CALLBACK frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK areaProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleFrame(UINT message, WPARAM wParam, LPARAM lParam);

    void readLayout();
    void fitToPad();
    void placeChildren();
    InkGeometry geometry() const;
    void drawAll();
    void drawChanges();
    void onInk();
    void onOk();
    void onClear();
    void onSettings();
    void close();
    void showStatus(const std::string& message);
    void refreshStatus();

    SaveImages save;
    PadHost* host = nullptr;
    SignatureSink* sink = nullptr;
    State state = State::Starting;
    bool savedOnce = false;
    ImageLayout layout;
    std::string padName;
    std::string message;        // the status line's last line
    std::string statusShown;
    uint64_t frozenMs = 0;

    Signature shown;            // what the area shows
    uint64_t shownGeneration = 0;
    InkLatency inkLatency;

    UniqueWindow frame;
    HWND area = nullptr;
    HWND status = nullptr;
    // The area's picture: drawn here, then copied to the screen.
    UniqueMemoryDc buffer;
    UniqueGdiObject bufferBitmap;
    std::optional<ScopedSelection> bufferSelection;
    int bufferWidth = 0;
    int bufferHeight = 0;
};
