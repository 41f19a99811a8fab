// The signing window; see signing_window.h for who draws what on which thread.
#include "signing_window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pad_host.h"
#include "signature_sink.h"
#include "text.h"

namespace {

constexpr wchar_t frameClass[] = L"TallowmarkSigningWindow";
constexpr wchar_t areaClass[] = L"TallowmarkSigningArea";
constexpr UINT inkMessage = WM_APP + 1;
constexpr UINT_PTR statusTimer = 1;
constexpr UINT statusIntervalMs = 100;

constexpr double screenDpi = 96.0;      // the ink's weight counts these pixels
constexpr int margin = 12;
constexpr int gap = 8;
constexpr int buttonWidth = 96;
constexpr int buttonHeight = 26;
constexpr int statusHeight = 54;        // three lines
constexpr int smallestArea = 160;       // pixels, the wider side
constexpr int largestArea = 900;
constexpr COLORREF paper = RGB(255, 255, 255);
constexpr COLORREF signatureLine = RGB(160, 160, 160);

HWND button(HWND parent, int id, const wchar_t* text)
{
    HWND child = CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0,
        buttonWidth, buttonHeight, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        GetModuleHandleW(nullptr), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return child;
}

// The frame's client size for a signing area of this size.
SIZE clientFor(int areaWidth, int areaHeight)
{
    int buttonsWidth = 3 * buttonWidth + 2 * gap;
    return SIZE{std::max(areaWidth, buttonsWidth) + 2 * margin,
        areaHeight + gap + buttonHeight + gap + statusHeight + 2 * margin};
}

// Widens the rectangle to take in the point.
void include(RECT& rect, const POINT& point)
{
    rect.left = std::min(rect.left, point.x);
    rect.top = std::min(rect.top, point.y);
    rect.right = std::max(rect.right, point.x + 1);
    rect.bottom = std::max(rect.bottom, point.y + 1);
}

} // namespace

SigningWindow::SigningWindow(SaveImages save) : save(std::move(save)) {}

SigningWindow::~SigningWindow()
{
    if (frame)
        SetWindowLongPtrW(frame.get(), GWLP_USERDATA, 0);
}

bool SigningWindow::create()
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW frameType = {};
    frameType.lpfnWndProc = frameProc;
    frameType.hInstance = instance;
    frameType.hCursor = LoadCursor(nullptr, IDC_ARROW);
    frameType.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frameType.lpszClassName = frameClass;
    RegisterClassW(&frameType);
    // The area paints all of itself from its buffer: no background to erase.
    WNDCLASSW areaType = {};
    areaType.lpfnWndProc = areaProc;
    areaType.hInstance = instance;
    areaType.hCursor = LoadCursor(nullptr, IDC_CROSS);
    areaType.lpszClassName = areaClass;
    RegisterClassW(&areaType);

    SIZE client = clientFor(400, 200);
    frame.reset(CreateWindowExW(0, frameClass, caption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
        CW_USEDEFAULT, client.cx, client.cy, nullptr, nullptr, instance, this));
    if (!frame)
        return false;
    area = CreateWindowExW(0, areaClass, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 1, 1, frame.get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(AreaId)), instance, this);
    button(frame.get(), OkId, L"OK");
    button(frame.get(), ClearId, L"Clear");
    button(frame.get(), SettingsId, L"Settings\u2026");
    status = CreateWindowExW(0, L"STATIC", L"Loading the signature pad control...",
        WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 1, 1, frame.get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(StatusId)), instance, nullptr);
    SendMessageW(status, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    for (int id : {OkId, ClearId, SettingsId})
        EnableWindow(GetDlgItem(frame.get(), id), FALSE);
    if (!area || !status)
        return false;
    fitToPad();
    ShowWindow(frame.get(), SW_SHOW);
    UpdateWindow(frame.get());
    return true;
}

void SigningWindow::startCapture(PadHost& padHost, SignatureSink& padSink)
{
    host = &padHost;
    sink = &padSink;
    readLayout();
    fitToPad();
    // The copy starts level with the sink; from now on the sink posts.
    sink->catchUp(shown, shownGeneration);
    drawAll();
    sink->notify(frame.get(), inkMessage);
    host->start();
    state = State::Capturing;
    for (int id : {OkId, ClearId, SettingsId})
        EnableWindow(GetDlgItem(frame.get(), id), TRUE);
    SetTimer(frame.get(), statusTimer, statusIntervalMs, nullptr);
    showStatus("Sign on the pad. OK or the pad's ok button saves the signature; Clear or another pad button "
               "starts again.");
}

void SigningWindow::showNoPad()
{
    state = State::NoPad;
    SetWindowTextW(status, L"No signature pad: the control found none, or could not open it.\n"
                           L"Connect a pad and start the demo host again.");
}

void SigningWindow::run()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (frame && IsDialogMessageW(frame.get(), &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void SigningWindow::readLayout()
{
    layout = host->imageLayout();
    padName = host->control()->DeviceName();
}

// Sizes the window so that the area shows the pad at its size on the
// document, within what fits on a screen.
void SigningWindow::fitToPad()
{
    double width = 400.0, height = 200.0;
    if (checkImageLayout(layout).empty()) {
        width = layout.widthInches * screenDpi;
        height = layout.heightInches * screenDpi;
    }
    double shrink = std::min(1.0, largestArea / std::max(width, height));
    double grow = std::max(1.0, smallestArea / std::max(width, height));
    SIZE client = clientFor(std::lround(width * shrink * grow), std::lround(height * shrink * grow));
    RECT rect = {0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongPtrW(frame.get(), GWL_STYLE)), FALSE, 0);
    SetWindowPos(frame.get(), nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    placeChildren();
}

// The area takes the room above the buttons, in the pad's proportions.
void SigningWindow::placeChildren()
{
    RECT client;
    GetClientRect(frame.get(), &client);
    int bottom = client.bottom - margin;
    MoveWindow(status, margin, bottom - statusHeight, std::max(1L, client.right - 2 * margin), statusHeight, TRUE);
    int buttonsTop = bottom - statusHeight - gap - buttonHeight;
    int x = client.right - margin - 3 * buttonWidth - 2 * gap;
    for (int id : {OkId, ClearId, SettingsId}) {
        MoveWindow(GetDlgItem(frame.get(), id), x, buttonsTop, buttonWidth, buttonHeight, TRUE);
        x += buttonWidth + gap;
    }

    double aspect = 2.0;
    if (checkImageLayout(layout).empty())
        aspect = layout.widthInches / layout.heightInches;
    int roomWidth = std::max(1L, client.right - 2 * margin);
    int roomHeight = std::max(1, buttonsTop - gap - margin);
    int width = roomWidth, height = std::max(1L, std::lround(roomWidth / aspect));
    if (height > roomHeight) {
        height = roomHeight;
        width = std::max(1L, std::lround(roomHeight * aspect));
    }
    MoveWindow(area, (client.right - width) / 2, margin, width, height, TRUE);

    if (width != bufferWidth || height != bufferHeight) {
        WindowDc screen(area);
        bufferSelection.reset();
        bufferBitmap.reset(CreateCompatibleBitmap(screen.get(), width, height));
        if (!buffer)
            buffer.reset(CreateCompatibleDC(screen.get()));
        bufferWidth = bufferBitmap ? width : 0;
        bufferHeight = bufferBitmap ? height : 0;
        if (buffer && bufferBitmap)
            bufferSelection.emplace(buffer.get(), bufferBitmap.get());
        drawAll();
    }
}

InkGeometry SigningWindow::geometry() const
{
    double pixelsPerInch = layout.widthInches > 0 ? bufferWidth / layout.widthInches : screenDpi;
    return inkGeometry(layout, bufferWidth, bufferHeight, pixelsPerInch);
}

// Paper, the signature line and every stroke, into the buffer; then the
// whole area is repainted from it, at once.
void SigningWindow::drawAll()
{
    if (!bufferSelection)
        return;
    HDC dc = buffer.get();
    RECT all = {0, 0, bufferWidth, bufferHeight};
    UniqueGdiObject paperBrush(CreateSolidBrush(paper));
    FillRect(dc, &all, static_cast<HBRUSH>(paperBrush.get()));
    {
        UniqueGdiObject linePen(CreatePen(PS_SOLID, 1, signatureLine));
        ScopedSelection selection(dc, linePen.get());
        int y = bufferHeight * 3 / 4;
        MoveToEx(dc, bufferWidth / 16, y, nullptr);
        LineTo(dc, bufferWidth - bufferWidth / 16, y);
    }
    if (layout.padWidth > 0 && layout.padHeight > 0) {
        InkGeometry ink = geometry();
        for (const auto& stroke : shown.strokes)
            drawInk(dc, stroke, 0, layout.inkColor, ink);
    }
    RedrawWindow(area, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

// Takes what the sink has gathered since the last look and draws it.
void SigningWindow::drawChanges()
{
    size_t oldCount = shown.strokes.size();
    size_t oldLast = oldCount ? shown.strokes.back().size() : 0;
    std::vector<LONGLONG> arrivals;
    switch (sink->catchUp(shown, shownGeneration, &arrivals)) {
    case SignatureSink::InkChange::None:
        return;
    case SignatureSink::InkChange::Restarted:
        // A pad button other than "ok", or Clear: the pad starts again too.
        host->control()->ClearTablet();
        drawAll();
        return;
    case SignatureSink::InkChange::Added:
        break;
    }
    if (!bufferSelection || layout.padWidth <= 0 || layout.padHeight <= 0)
        return;
    InkGeometry ink = geometry();
    RECT dirty = {LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    for (size_t i = oldCount ? oldCount - 1 : 0; i < shown.strokes.size(); ++i) {
        const auto& stroke = shown.strokes[i];
        size_t first = i + 1 == oldCount ? oldLast : 0;
        if (first >= stroke.size())
            continue;
        drawInk(buffer.get(), stroke, first, layout.inkColor, ink);
        for (size_t j = first ? first - 1 : 0; j < stroke.size(); ++j)
            include(dirty, POINT{std::lround(stroke[j].x * ink.scaleX), std::lround(stroke[j].y * ink.scaleY)});
    }
    if (dirty.left > dirty.right)
        return;
    int reach = static_cast<int>(std::ceil(ink.lineWidth / 2)) + 2;
    InflateRect(&dirty, reach, reach);
    WindowDc screen(area);
    BitBlt(screen.get(), dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top, buffer.get(),
        dirty.left, dirty.top, SRCCOPY);
    GdiFlush();
    inkLatency.drawn(arrivals);
}

void SigningWindow::onInk()
{
    if (state != State::Capturing && state != State::Saved)
        return;
    drawChanges();
    if (state == State::Capturing && WaitForSingleObject(sink->okPressed(), 0) == WAIT_OBJECT_0)
        onOk();
}

void SigningWindow::onOk()
{
    if (state != State::Capturing)
        return;
    drawChanges();
    if (shown.strokes.empty()) {
        sink->restart();
        showStatus("The pad is empty: sign first, then press OK.");
        return;
    }
    host->control()->Stop();
    drawChanges();      // what arrived before the pad stopped
    state = State::Saved;
    frozenMs = shown.durationMs;
    EnableWindow(GetDlgItem(frame.get(), OkId), FALSE);
    bool written = false;
    std::string outcome = save(shown, layout, written);
    savedOnce = savedOnce || written;
    showStatus(outcome + (written ? " Clear signs again; closing the window ends the demo." : ""));
}

void SigningWindow::onClear()
{
    if (state != State::Capturing && state != State::Saved)
        return;
    sink->restart();
    drawChanges();
    if (state == State::Saved) {
        host->start();
        state = State::Capturing;
        EnableWindow(GetDlgItem(frame.get(), OkId), TRUE);
    }
    showStatus("Cleared: sign again on the pad.");
}

void SigningWindow::onSettings()
{
    if (!host)
        return;
    ISignaturePad* before = host->control();
    std::string change = host->showSettings();
    if (!host->control()) {
        state = State::NoPad;
        showStatus(change);
        return;
    }
    // Another pad module was switched to: its control takes over the capture.
    if (host->control() != before && state == State::Capturing)
        host->start();
    readLayout();
    bufferWidth = bufferHeight = 0;     // redraw at the new proportions
    placeChildren();
    char applied[128];
    snprintf(applied, sizeof applied, "Settings applied: ink 0x%06lX, weight %ld, %.2f x %.2f inches.",
        static_cast<unsigned long>(layout.inkColor), layout.inkWeight, layout.widthInches, layout.heightInches);
    showStatus(change.empty() ? applied : change);
}

void SigningWindow::close()
{
    if (host)
        host->stopAndUnload();
    if (sink)
        sink->notify(nullptr, 0);
    KillTimer(frame.get(), statusTimer);
    frame.reset();
    PostQuitMessage(0);
}

void SigningWindow::showStatus(const std::string& text)
{
    message = text;
    refreshStatus();
}

void SigningWindow::refreshStatus()
{
    if (state != State::Capturing && state != State::Saved)
        return;
    char line[512];
    snprintf(line, sizeof line, "Pad \"%s\": %ld x %ld, %.2f x %.2f inches\n", padName.c_str(), layout.padWidth,
        layout.padHeight, layout.widthInches, layout.heightInches);
    std::string text = line;
    uint64_t elapsedMs = state == State::Saved ? frozenMs : sink->msSinceFirstStroke();
    if (shown.strokes.empty() && !elapsedMs) {
        text += "No stroke yet\n";
    } else {
        snprintf(line, sizeof line, "%lu strokes, %lu points, %.1f s since the first stroke\n",
            static_cast<unsigned long>(shown.strokes.size()), static_cast<unsigned long>(shown.pointCount()),
            elapsedMs / 1000.0);
        text += line;
    }
    text += message;
    // The timer asks every 100 ms; the line is redrawn only when it changed.
    if (text == statusShown)
        return;
    statusShown = text;
    SetWindowTextW(status, widen(text).c_str());
}

LRESULT CALLBACK SigningWindow::frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* creation = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<SigningWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !self->frame)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->handleFrame(message, wParam, lParam);
}

LRESULT SigningWindow::handleFrame(UINT msg, WPARAM wParam, LPARAM lParam)
{
    HWND window = frame.get();
    switch (msg) {
    case inkMessage:
        onInk();
        return 0;
    case WM_TIMER:
        if (wParam == statusTimer)
            refreshStatus();
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            switch (LOWORD(wParam)) {
            case OkId:
                onOk();
                break;
            case ClearId:
                onClear();
                break;
            case SettingsId:
                onSettings();
                break;
            }
        }
        return 0;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED && area)
            placeChildren();
        return 0;
    case WM_GETMINMAXINFO: {
        SIZE client = clientFor(smallestArea, smallestArea / 2);
        RECT rect = {0, 0, client.cx, client.cy};
        AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE, 0);
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize = POINT{rect.right - rect.left, rect.bottom - rect.top};
        return 0;
    }
    case WM_CLOSE:
        close();
        return 0;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

LRESULT CALLBACK SigningWindow::areaProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* creation = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<SigningWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PaintScope paint(window);
        const RECT& dirty = paint.invalidArea();
        if (self && self->bufferSelection)
            BitBlt(paint.get(), dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top,
                self->buffer.get(), dirty.left, dirty.top, SRCCOPY);
        return 0;
    }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
