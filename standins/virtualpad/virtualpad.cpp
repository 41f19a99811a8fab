// The virtual pad: the pad vendor's library as the control sees it, serving
// one pad whose input comes from the control interface in virtualpad.h
// instead of hardware.
//
// All pad state lives under one SRW lock. Readers sleep on a condition
// variable until input is queued or the device is closed (or not at all, or
// for a while, as the control interface chooses), take the whole
// queue and hand it to the input callback outside the lock, so the callback
// may call back into the library and the host may queue, close or unplug
// meanwhile.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "handles.h"
#include "recording.h"
#include "scriptel.h"
#include "sync.h"
#include "virtualpad.h"

namespace {

// Copies a zero-terminated string into a fixed field, cut to fit.
template <size_t size>
void copyString(char (&field)[size], const char* text)
{
    size_t length = 0;
    while (length + 1 < size && text[length])
        ++length;
    memcpy(field, text, length);
    field[length] = 0;
}

constexpr char defaultName[] = "ST-1500 Virtual";
constexpr uint16_t defaultWidth = 15360;
constexpr uint16_t defaultHeight = 9600;
constexpr LONGLONG maxRecordingFile = 16 * 1024 * 1024;
// The range record as the vendor's header lays it out; a library may make it
// larger, and the caller cannot know by how much.
constexpr unsigned defaultRangeRecordSize = 12;
constexpr unsigned minRangeRecordSize = offsetof(scriptel_coordinate_range, height) + sizeof(uint16_t);
constexpr unsigned maxRangeRecordSize = 4096;
// What the rest of a range record holds: not zero, so a reader of bytes
// other than the two fields sees it.
constexpr uint8_t rangeRecordFill = 0xA5;

enum Call {
    CallInit,
    CallListDevices,
    CallOpenDevice,
    CallGetCoordinateRange,
    CallClearScreen,
    CallCloseDevice,
    CallRegisterInputCallback,
    CallDeviceRead,
    CallKinds
};

const char* const callNames[CallKinds] = {
    "scriptel_init",
    "scriptel_list_devices",
    "scriptel_open_device",
    "scriptel_get_coordinate_range",
    "scriptel_clear_screen",
    "scriptel_close_device",
    "scriptel_register_input_callback",
    "scriptel_device_read",
};

// One input report as the callback receives it. A button report points at
// the button record beside it, the name after the library's 42 bytes; that
// pointer is set just before delivery, once the report has stopped moving
// between vectors.
struct Report {
    int type;
    union {
        scriptel_pen_report pen;
        scriptel_button_report button;
    } data;
    std::string buttonRecord;   // empty: the report points at no record
};

Report penReport(int type, bool contact, uint16_t x, uint16_t y)
{
    Report report = {};
    report.type = type;
    report.data.pen.contact = contact ? 1 : 0;
    report.data.pen.x = x;
    report.data.pen.y = y;
    return report;
}

Report buttonReport(const char* name)
{
    Report report = {};
    report.type = SCRIPTEL_REPORT_BUTTON;
    if (name) {
        report.buttonRecord.assign(offsetof(scriptel_button, name), '\0');
        report.buttonRecord.append(name);
        report.buttonRecord.push_back('\0');
    }
    return report;
}

Report plainReport(int type)
{
    // A button report of this kind still points at a record: its name is empty.
    Report report = (type & 0xff) == SCRIPTEL_REPORT_BUTTON ? buttonReport("") : Report{};
    report.type = type;
    return report;
}

struct Pad {
    SlimLock lock;
    CONDITION_VARIABLE inputChanged = CONDITION_VARIABLE_INIT;  // readers wait for input or a close
    CONDITION_VARIABLE idleChanged = CONDITION_VARIABLE_INIT;   // vpad_wait_idle waits here

    scriptel_device device = {};
    char name[64];              // these and the next three are set by restoreDefaults
    bool connected;
    int openResult;
    uint16_t rangeWidth, rangeHeight;
    unsigned rangeRecordSize;
    int readWaitMs;             // < 0: until input or a close
    scriptel_input_callback callback = nullptr;
    std::vector<Report> pending;
    // Bumped by every close and unplug: a read compares it with the value it
    // started with, so it returns even when the device was opened again
    // before the reader woke up, and stops delivering a batch promptly.
    std::atomic<unsigned> closings{0};
    int delivering = 0;     // reads handing a batch to the callback right now
    bool replaying = false;
    char lastError[512] = {};

    std::atomic<long> calls[CallKinds] = {};
    std::atomic<long> callsInsideCallback{0};

    Pad()
    {
        device.name = name;
        restoreDefaults();
    }

    // The settings at load. The device record keeps its address and its
    // application slot, which belongs to the caller.
    void restoreDefaults()
    {
        copyString(name, defaultName);
        connected = false;
        openResult = 1;
        rangeWidth = defaultWidth;
        rangeHeight = defaultHeight;
        rangeRecordSize = defaultRangeRecordSize;
        readWaitMs = -1;
        device.isOpen = 0;
        device.width = defaultWidth;
        device.height = defaultHeight;
    }

    bool idle() const { return pending.empty() && !replaying && delivering == 0; }

    // Called with the lock held after anything that may end the work.
    void wakeIfIdle()
    {
        if (idle())
            WakeAllConditionVariable(&idleChanged);
    }

    // Called with the lock held: closes the device and sends every blocked
    // read home.
    void close()
    {
        device.isOpen = 0;
        ++closings;
        WakeAllConditionVariable(&inputChanged);
    }

    void setError(const std::string& text)
    {
        ExclusiveGuard guard(lock);
        copyString(lastError, text.c_str());
    }
};

Pad pad;

// Set on a reading thread while it is inside the input callback.
thread_local bool insideCallback = false;

void count(Call call)
{
    ++pad.calls[call];
    if (insideCallback && call != CallClearScreen)
        ++pad.callsInsideCallback;
}

void queueReports(const Report* reports, size_t n)
{
    ExclusiveGuard guard(pad.lock);
    bool wasEmpty = pad.pending.empty();
    pad.pending.insert(pad.pending.end(), reports, reports + n);
    // Readers only sleep on an empty queue and the one woken takes it all.
    if (wasEmpty && n)
        WakeConditionVariable(&pad.inputChanged);
}

// A recording being replayed on a thread of its own. Replays are started and
// stopped under replayControl, which the replay thread never takes, so that
// stopping may wait for the thread.
struct Replay {
    std::vector<Report> reports;
    std::vector<uint32_t> due;      // ms after the start, one per report
    bool paced = false;
    UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle thread;
};

SlimLock replayControl;
std::unique_ptr<Replay> replay;

void play(const Replay& job)
{
    size_t total = job.reports.size();
    if (!job.paced) {
        queueReports(job.reports.data(), total);
        return;
    }
    ULONGLONG start = GetTickCount64();
    size_t next = 0;
    while (next < total) {
        ULONGLONG now = GetTickCount64();
        ULONGLONG due = start + job.due[next];
        if (due > now) {
            if (WaitForSingleObject(job.stop.get(), static_cast<DWORD>(due - now)) != WAIT_TIMEOUT)
                return;
            continue;
        }
        // Everything already due goes in one go when the thread was late.
        size_t end = next + 1;
        while (end < total && start + job.due[end] <= now)
            ++end;
        queueReports(&job.reports[next], end - next);
        next = end;
    }
}

DWORD WINAPI replayThread(void* parameter)
{
    play(*static_cast<const Replay*>(parameter));
    ExclusiveGuard guard(pad.lock);
    pad.replaying = false;
    pad.wakeIfIdle();
    return 0;
}

// Called with replayControl held.
void stopReplayLocked()
{
    if (!replay)
        return;
    SetEvent(replay->stop.get());
    WaitForSingleObject(replay->thread.get(), INFINITE);
    replay.reset();
}

void stopReplay()
{
    ExclusiveGuard guard(replayControl);
    stopReplayLocked();
}

bool readFile(const char* path, std::string& text, std::string& error)
{
    UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = "cannot open the recording (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) {
        error = "cannot get the size of the recording (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (size.QuadPart > maxRecordingFile) {
        error = "the recording is larger than 16 MiB";
        return false;
    }
    text.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < text.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), &text[done], static_cast<DWORD>(text.size() - done), &got, nullptr)) {
            error = "cannot read the recording (error " + std::to_string(GetLastError()) + ")";
            return false;
        }
        if (!got)
            break;
        done += got;
    }
    text.resize(done);
    return true;
}

Report toReport(const vpad::RecordedEvent& event)
{
    switch (event.kind) {
    case vpad::EventKind::Pen:
        return penReport(SCRIPTEL_REPORT_PEN, event.contact, event.x, event.y);
    case vpad::EventKind::Button:
        return buttonReport(event.button);
    case vpad::EventKind::Report:
        break;
    }
    return plainReport(event.type);
}

} // namespace

int __cdecl scriptel_init(void)
{
    count(CallInit);
    return 1;
}

int __cdecl scriptel_list_devices(scriptel_device** firstDevice)
{
    count(CallListDevices);
    if (!firstDevice)
        return 0;
    ExclusiveGuard guard(pad.lock);
    *firstDevice = pad.connected ? &pad.device : nullptr;
    return pad.connected ? 1 : 0;
}

int __cdecl scriptel_open_device(scriptel_device* device)
{
    count(CallOpenDevice);
    ExclusiveGuard guard(pad.lock);
    if (device != &pad.device || !pad.connected)
        return 0;
    if (pad.openResult == 1)
        pad.device.isOpen = 1;
    return pad.openResult;
}

// scriptel_get_coordinate_range, exported under that name by virtualpad.def:
// a record returned by value arrives through a hidden pointer to the caller's
// space, passed first, and the call gives that pointer back. Written out as
// such, the record can have the size the control interface chose.
extern "C" void* __cdecl vpadCoordinateRange(void* record, scriptel_device* device)
{
    count(CallGetCoordinateRange);
    ExclusiveGuard guard(pad.lock);
    auto* bytes = static_cast<uint8_t*>(record);
    memset(bytes, rangeRecordFill, pad.rangeRecordSize);
    uint16_t width = device == &pad.device ? pad.rangeWidth : 0;
    uint16_t height = device == &pad.device ? pad.rangeHeight : 0;
    memcpy(bytes + offsetof(scriptel_coordinate_range, width), &width, sizeof width);
    memcpy(bytes + offsetof(scriptel_coordinate_range, height), &height, sizeof height);
    return record;
}

int __cdecl scriptel_clear_screen(scriptel_device* device)
{
    count(CallClearScreen);
    return device == &pad.device ? 1 : 0;
}

int __cdecl scriptel_close_device(scriptel_device* device)
{
    count(CallCloseDevice);
    if (device != &pad.device)
        return 0;
    ExclusiveGuard guard(pad.lock);
    pad.close();
    return 1;
}

int __cdecl scriptel_register_input_callback(scriptel_device* device, scriptel_input_callback callback)
{
    count(CallRegisterInputCallback);
    if (device != &pad.device)
        return 0;
    ExclusiveGuard guard(pad.lock);
    pad.callback = callback;
    return 1;
}

// Waits for input as vpad_set_read_wait chose, then hands every queued
// report to the callback on this thread. Returns 1 after a delivery, 0 when
// the device is not open, was closed meanwhile or nothing came in time.
int __cdecl scriptel_device_read(scriptel_device* device)
{
    count(CallDeviceRead);
    if (device != &pad.device)
        return 0;

    std::vector<Report> batch;
    scriptel_input_callback callback;
    unsigned closings;
    {
        ExclusiveGuard guard(pad.lock);
        if (!pad.device.isOpen)
            return 0;
        closings = pad.closings;
        ULONGLONG deadline = GetTickCount64() + static_cast<unsigned>(std::max(pad.readWaitMs, 0));
        while (pad.pending.empty() && pad.closings == closings) {
            DWORD wait = INFINITE;
            if (pad.readWaitMs >= 0) {
                ULONGLONG now = GetTickCount64();
                if (now >= deadline)
                    break;
                wait = static_cast<DWORD>(deadline - now);
            }
            SleepConditionVariableSRW(&pad.inputChanged, pad.lock.native(), wait, 0);
        }
        if (pad.closings != closings || pad.pending.empty())
            return 0;
        batch.swap(pad.pending);
        callback = pad.callback;
        ++pad.delivering;
    }

    bool stillOpen = true;
    for (Report& report : batch) {
        if (pad.closings != closings) {
            stillOpen = false;
            break;
        }
        if (!callback)
            break;
        if (!report.buttonRecord.empty())
            report.data.button.button = reinterpret_cast<const scriptel_button*>(report.buttonRecord.data());
        insideCallback = true;
        callback(&pad.device, &report.data, report.type);
        insideCallback = false;
    }

    ExclusiveGuard guard(pad.lock);
    --pad.delivering;
    pad.wakeIfIdle();
    return stillOpen ? 1 : 0;
}

void __cdecl vpad_reset(void)
{
    stopReplay();
    ExclusiveGuard guard(pad.lock);
    pad.close();
    pad.restoreDefaults();
    pad.callback = nullptr;
    pad.pending.clear();
    pad.lastError[0] = 0;
    for (auto& calls : pad.calls)
        calls = 0;
    pad.callsInsideCallback = 0;
    pad.wakeIfIdle();
}

void __cdecl vpad_connect(const char* name)
{
    ExclusiveGuard guard(pad.lock);
    if (name)
        copyString(pad.name, name);
    pad.connected = true;
}

void __cdecl vpad_unplug(void)
{
    // The pad takes its pending input and any signature being replayed with it.
    stopReplay();
    ExclusiveGuard guard(pad.lock);
    pad.connected = false;
    pad.close();
    pad.pending.clear();
    pad.wakeIfIdle();
}

void __cdecl vpad_set_open_result(int result)
{
    ExclusiveGuard guard(pad.lock);
    pad.openResult = result;
}

void __cdecl vpad_set_coordinate_range(uint16_t width, uint16_t height)
{
    ExclusiveGuard guard(pad.lock);
    pad.rangeWidth = width;
    pad.rangeHeight = height;
}

int __cdecl vpad_set_range_record_size(unsigned bytes)
{
    if (bytes < minRangeRecordSize || bytes > maxRangeRecordSize)
        return 0;
    ExclusiveGuard guard(pad.lock);
    pad.rangeRecordSize = bytes;
    return 1;
}

void __cdecl vpad_set_device_extent(uint16_t width, uint16_t height)
{
    ExclusiveGuard guard(pad.lock);
    pad.device.width = width;
    pad.device.height = height;
}

void __cdecl vpad_set_read_wait(int milliseconds)
{
    ExclusiveGuard guard(pad.lock);
    pad.readWaitMs = milliseconds < 0 ? -1 : milliseconds;
}

void __cdecl vpad_queue_pen(int type, int contact, uint16_t x, uint16_t y)
{
    Report report = penReport(type, contact != 0, x, y);
    queueReports(&report, 1);
}

void __cdecl vpad_queue_button(const char* name)
{
    Report report = buttonReport(name);
    queueReports(&report, 1);
}

void __cdecl vpad_queue_report(int type)
{
    Report report = plainReport(type);
    queueReports(&report, 1);
}

int __cdecl vpad_replay_file(const char* path, int paced)
{
    if (!path) {
        pad.setError("no recording file given");
        return -1;
    }
    std::string text, error;
    vpad::Recording recording;
    if (!readFile(path, text, error) || !(error = vpad::parseRecording(text, recording)).empty()) {
        pad.setError(std::string(path) + ": " + error);
        return -1;
    }

    auto job = std::make_unique<Replay>();
    job->paced = paced != 0;
    job->reports.reserve(recording.events.size());
    job->due.reserve(recording.events.size());
    for (const vpad::RecordedEvent& event : recording.events) {
        job->reports.push_back(toReport(event));
        job->due.push_back(event.ms);
    }
    if (!job->stop) {
        pad.setError("cannot create the replay's stop event (error " + std::to_string(GetLastError()) + ")");
        return -1;
    }

    ExclusiveGuard control(replayControl);
    stopReplayLocked();
    {
        ExclusiveGuard guard(pad.lock);
        if (recording.hasRange) {
            pad.rangeWidth = pad.device.width = recording.width;
            pad.rangeHeight = pad.device.height = recording.height;
        }
        pad.replaying = true;
        pad.lastError[0] = 0;
    }
    job->thread.reset(CreateThread(nullptr, 0, replayThread, job.get(), 0, nullptr));
    if (!job->thread) {
        DWORD failure = GetLastError();
        {
            ExclusiveGuard guard(pad.lock);
            pad.replaying = false;
            pad.wakeIfIdle();
        }
        pad.setError("cannot start the replay thread (error " + std::to_string(failure) + ")");
        return -1;
    }
    replay = std::move(job);
    return static_cast<int>(recording.events.size());
}

const char* __cdecl vpad_last_error(void)
{
    return pad.lastError;
}

int __cdecl vpad_wait_idle(uint32_t timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    ExclusiveGuard guard(pad.lock);
    while (!pad.idle()) {
        DWORD wait = INFINITE;
        if (timeoutMs != INFINITE) {
            ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return 0;
            wait = static_cast<DWORD>(deadline - now);
        }
        SleepConditionVariableSRW(&pad.idleChanged, pad.lock.native(), wait, 0);
    }
    return 1;
}

long __cdecl vpad_call_count(const char* call)
{
    if (!call)
        return -1;
    for (int i = 0; i < CallKinds; ++i) {
        if (!strcmp(call, callNames[i]))
            return pad.calls[i];
    }
    return -1;
}

long __cdecl vpad_calls_inside_callback(void)
{
    return pad.callsInsideCallback;
}

scriptel_device* __cdecl vpad_device(void)
{
    return &pad.device;
}
