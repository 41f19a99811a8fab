// The virtual pad through the built DLL: the library's calls as the control
// makes them, on real threads, and the control interface that tests and the
// demo host drive it with.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "scriptel.h"
#include "virtualpad.h"

namespace {

// One report as the input callback saw it, read at the library's byte
// offsets rather than through the record declarations.
struct Received {
    scriptel_device* device;
    int type;
    uint8_t contact;
    uint16_t x;
    uint16_t y;
    std::string button;
    DWORD thread;
    bool noButtonRecord = false;
};

Received decode(scriptel_device* device, const void* report, int type)
{
    const auto* bytes = static_cast<const uint8_t*>(report);
    Received received = {device, type, 0, 0, 0, {}, GetCurrentThreadId()};
    if ((type & 0xff) == SCRIPTEL_REPORT_BUTTON) {
        const uint8_t* button;
        memcpy(&button, bytes + 8, sizeof button);
        received.noButtonRecord = button == nullptr;
        if (button)
            received.button = reinterpret_cast<const char*>(button + 42);
    } else {
        received.contact = bytes[1];
        memcpy(&received.x, bytes + 6, sizeof received.x);
        memcpy(&received.y, bytes + 8, sizeof received.y);
    }
    return received;
}

// Everything the input callbacks received, in order of arrival.
class Inbox {
public:
    void add(const Received& received)
    {
        AcquireSRWLockExclusive(&lock);
        reports.push_back(received);
        ReleaseSRWLockExclusive(&lock);
    }
    std::vector<Received> take()
    {
        AcquireSRWLockExclusive(&lock);
        std::vector<Received> all;
        all.swap(reports);
        ReleaseSRWLockExclusive(&lock);
        return all;
    }

private:
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<Received> reports;
};

Inbox inbox;

void __cdecl record(scriptel_device* device, void* report, int type)
{
    inbox.add(decode(device, report, type));
}

class Event {
public:
    Event() : handle(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() { CloseHandle(handle); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set() { SetEvent(handle); }
    bool waitFor(DWORD ms) { return WaitForSingleObject(handle, ms) == WAIT_OBJECT_0; }

private:
    HANDLE handle;
};

// Lets a test hold the input callback inside its first call.
struct Gate {
    Event entered;
    Event release;
};
Gate* gate;

void __cdecl recordAndHoldFirst(scriptel_device* device, void* report, int type)
{
    inbox.add(decode(device, report, type));
    if (gate) {
        Gate* held = gate;
        gate = nullptr;
        held->entered.set();
        held->release.waitFor(INFINITE);
    }
}

void __cdecl recordAndClearScreen(scriptel_device* device, void* report, int type)
{
    inbox.add(decode(device, report, type));
    scriptel_clear_screen(device);
}

// Clears the screen, as a callback may, then closes the device, as it may not.
void __cdecl clearThenClose(scriptel_device* device, void*, int)
{
    scriptel_clear_screen(device);
    scriptel_close_device(device);
}

// A thread running body; the device is closed before joining so that a read
// still blocked when a test fails cannot hang it.
class TestThread {
public:
    explicit TestThread(std::function<void()> body)
        : body(std::move(body)), handle(CreateThread(nullptr, 0, run, this, 0, nullptr))
    {
    }
    ~TestThread()
    {
        if (!finishedWithin(0))
            scriptel_close_device(vpad_device());
        WaitForSingleObject(handle, INFINITE);
        CloseHandle(handle);
    }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;

    HANDLE get() const { return handle; }
    bool finishedWithin(DWORD ms) const { return WaitForSingleObject(handle, ms) == WAIT_OBJECT_0; }

private:
    static DWORD WINAPI run(void* self)
    {
        static_cast<TestThread*>(self)->body();
        return 0;
    }

    std::function<void()> body;
    HANDLE handle;
};

// Reads until the device is closed, as the control's reader thread does.
std::function<void()> readUntilClosed(scriptel_device* device)
{
    return [device] {
        while (scriptel_device_read(device)) {
        }
    };
}

// A file in the temporary folder, deleted with the test.
class TempFile {
public:
    explicit TempFile(const std::string& content)
    {
        char folder[MAX_PATH], name[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        GetTempFileNameA(folder, "vpd", 0, name);
        path = name;
        std::ofstream(path, std::ios::binary) << content;
    }
    ~TempFile() { DeleteFileA(path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const char* name() const { return path.c_str(); }

private:
    std::string path;
};

const std::string header = "tallowmark-pad-recording 1\n";

// The sample recording, which the build copies beside the programs (the
// source file's own path may be relative, as ccache makes it).
std::string sampleRecording()
{
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    folder.erase(folder.find_last_of("/\\") + 1);
    return folder + "recordings\\signature.txt";
}

class VirtualPad : public testing::Test {
protected:
    void SetUp() override
    {
        vpad_reset();
        inbox.take();
        vpad_connect(nullptr);
        ASSERT_EQ(scriptel_init(), 1);
        ASSERT_EQ(scriptel_list_devices(&device), 1);
        ASSERT_EQ(device, vpad_device());
    }
    void TearDown() override { vpad_reset(); }

    void openWith(scriptel_input_callback callback)
    {
        ASSERT_EQ(scriptel_open_device(device), 1);
        ASSERT_EQ(scriptel_register_input_callback(device, callback), 1);
    }

    scriptel_device* device = nullptr;
};

TEST_F(VirtualPad, ListsOneClosedPadWithDefaults)
{
    ASSERT_NE(device, nullptr);
    EXPECT_STREQ(device->name, "ST-1500 Virtual");
    EXPECT_EQ(device->isOpen, 0);
    EXPECT_EQ(device->width, 15360);
    EXPECT_EQ(device->height, 9600);
    scriptel_coordinate_range range = scriptel_get_coordinate_range(device);
    EXPECT_EQ(range.width, 15360);
    EXPECT_EQ(range.height, 9600);

    EXPECT_EQ(scriptel_init(), 1);
    scriptel_device* again = nullptr;
    EXPECT_EQ(scriptel_list_devices(&again), 1);
    EXPECT_EQ(again, device);

    EXPECT_EQ(scriptel_open_device(device), 1);
    EXPECT_EQ(device->isOpen, 1);
    EXPECT_EQ(scriptel_close_device(device), 1);
    EXPECT_EQ(device->isOpen, 0);
}

TEST_F(VirtualPad, PadIsNotListedBeforeConnectAndDoesNotOpen)
{
    vpad_reset();
    scriptel_device* listed = reinterpret_cast<scriptel_device*>(1);
    EXPECT_EQ(scriptel_list_devices(&listed), 0);
    EXPECT_EQ(listed, nullptr);
    EXPECT_EQ(scriptel_open_device(vpad_device()), 0);
    EXPECT_EQ(vpad_device()->isOpen, 0);
}

TEST_F(VirtualPad, OpenResultRangeExtentAndNameFollowSettings)
{
    vpad_set_open_result(0);
    EXPECT_EQ(scriptel_open_device(device), 0);
    EXPECT_EQ(device->isOpen, 0);
    vpad_set_open_result(-7);
    EXPECT_EQ(scriptel_open_device(device), -7);
    EXPECT_EQ(device->isOpen, 0);
    vpad_set_open_result(1);
    EXPECT_EQ(scriptel_open_device(device), 1);
    EXPECT_EQ(device->isOpen, 1);

    vpad_set_coordinate_range(0, 0);
    vpad_set_device_extent(1024, 768);
    scriptel_coordinate_range range = scriptel_get_coordinate_range(device);
    EXPECT_EQ(range.width, 0);
    EXPECT_EQ(range.height, 0);
    EXPECT_EQ(device->width, 1024);
    EXPECT_EQ(device->height, 768);
    vpad_set_coordinate_range(65535, 1);
    range = scriptel_get_coordinate_range(device);
    EXPECT_EQ(range.width, 65535);
    EXPECT_EQ(range.height, 1);

    vpad_connect("ST-1400 Bench");
    scriptel_device* listed = nullptr;
    ASSERT_EQ(scriptel_list_devices(&listed), 1);
    EXPECT_EQ(listed, device);
    EXPECT_STREQ(listed->name, "ST-1400 Bench");

    vpad_reset();
    EXPECT_EQ(device->isOpen, 0);
    EXPECT_EQ(device->width, 15360);
    EXPECT_EQ(device->height, 9600);
    EXPECT_STREQ(device->name, "ST-1500 Virtual");
}

TEST_F(VirtualPad, LeavesTheApplicationSlotAlone)
{
    int mine;
    device->application = &mine;
    openWith(record);
    vpad_queue_pen(1, 1, 5, 6);
    EXPECT_EQ(scriptel_device_read(device), 1);
    scriptel_close_device(device);
    vpad_unplug();
    vpad_connect("Other");
    vpad_reset();
    EXPECT_EQ(vpad_device()->application, &mine);
}

TEST_F(VirtualPad, RefusesAForeignDeviceRecord)
{
    scriptel_device foreign = {};
    EXPECT_EQ(scriptel_open_device(&foreign), 0);
    EXPECT_EQ(foreign.isOpen, 0);
    EXPECT_EQ(scriptel_register_input_callback(&foreign, record), 0);
    EXPECT_EQ(scriptel_device_read(&foreign), 0);
    EXPECT_EQ(scriptel_get_coordinate_range(&foreign).width, 0);
}

TEST_F(VirtualPad, ReadOnClosedDeviceReturnsAtOnce)
{
    ASSERT_EQ(scriptel_register_input_callback(device, record), 1);
    vpad_queue_pen(1, 1, 1, 1);
    EXPECT_EQ(scriptel_device_read(device), 0);
    EXPECT_TRUE(inbox.take().empty());
}

TEST_F(VirtualPad, BlockedReadReturnsWhenTheDeviceIsClosed)
{
    openWith(record);
    int result = -1;
    TestThread reader([&] { result = scriptel_device_read(device); });
    EXPECT_FALSE(reader.finishedWithin(100));

    EXPECT_EQ(scriptel_close_device(device), 1);
    ASSERT_TRUE(reader.finishedWithin(2000));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(device->isOpen, 0);
}

TEST_F(VirtualPad, BlockedReadReturnsWhenThePadIsUnplugged)
{
    openWith(record);
    int result = -1;
    TestThread reader([&] { result = scriptel_device_read(device); });
    EXPECT_FALSE(reader.finishedWithin(100));

    vpad_unplug();
    ASSERT_TRUE(reader.finishedWithin(2000));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(device->isOpen, 0);

    scriptel_device* listed = device;
    EXPECT_EQ(scriptel_list_devices(&listed), 0);
    EXPECT_EQ(listed, nullptr);
    EXPECT_EQ(scriptel_open_device(device), 0);
    EXPECT_EQ(device->isOpen, 0);

    vpad_connect(nullptr);
    EXPECT_EQ(scriptel_list_devices(&listed), 1);
    EXPECT_EQ(listed, device);
    EXPECT_EQ(scriptel_open_device(device), 1);
}

TEST_F(VirtualPad, DeliversReportsInOrderOnTheReadingThread)
{
    openWith(record);
    vpad_queue_pen(SCRIPTEL_REPORT_PEN, 1, 100, 200);
    vpad_queue_pen(SCRIPTEL_REPORT_PEN_EXTENDED, 0, 65535, 0);
    vpad_queue_button("ok");
    vpad_queue_report(3);
    vpad_queue_report(257);
    vpad_queue_button("a-name-of-exactly-31-characters-and-then-some");
    vpad_queue_report(SCRIPTEL_REPORT_BUTTON);
    vpad_queue_button(nullptr);

    ASSERT_EQ(scriptel_device_read(device), 1);
    std::vector<Received> got = inbox.take();
    ASSERT_EQ(got.size(), 8u);
    for (const Received& received : got) {
        EXPECT_EQ(received.device, device);
        EXPECT_EQ(received.thread, GetCurrentThreadId());
    }
    EXPECT_EQ(got[0].type, 1);
    EXPECT_EQ(got[0].contact, 1);
    EXPECT_EQ(got[0].x, 100);
    EXPECT_EQ(got[0].y, 200);
    EXPECT_EQ(got[1].type, 2);
    EXPECT_EQ(got[1].contact, 0);
    EXPECT_EQ(got[1].x, 65535);
    EXPECT_EQ(got[1].y, 0);
    EXPECT_EQ(got[2].type, 253);
    EXPECT_EQ(got[2].button, "ok");
    EXPECT_EQ(got[3].type, 3);
    EXPECT_EQ(got[3].x, 0);
    EXPECT_EQ(got[4].type, 257);
    EXPECT_EQ(got[4].contact, 0);
    EXPECT_EQ(got[4].x, 0);
    EXPECT_EQ(got[4].y, 0);
    EXPECT_EQ(got[5].button, "a-name-of-exactly-31-characters-and-then-some") << "names are kept whole";
    EXPECT_EQ(got[6].type, 253);
    EXPECT_FALSE(got[6].noButtonRecord);
    EXPECT_EQ(got[6].button, "");
    EXPECT_EQ(got[7].type, 253);
    EXPECT_TRUE(got[7].noButtonRecord);
    EXPECT_EQ(vpad_wait_idle(0), 1);
}

TEST_F(VirtualPad, RangeRecordIsWrittenAtTheChosenSize)
{
    // Called as the platform's convention has it, with space of the test's
    // own: the caller's space first, the device second, the space returned.
    using RangeCall = void*(__cdecl*)(void*, scriptel_device*);
    auto call = reinterpret_cast<RangeCall>(reinterpret_cast<void (*)()>(&scriptel_get_coordinate_range));
    vpad_set_coordinate_range(300, 200);
    for (unsigned size : {12u, 16u, 256u}) {
        ASSERT_EQ(vpad_set_range_record_size(size), 1);
        uint8_t space[300] = {};
        EXPECT_EQ(call(space, device), space);
        uint16_t width, height;
        memcpy(&width, space + 4, sizeof width);
        memcpy(&height, space + 8, sizeof height);
        EXPECT_EQ(width, 300);
        EXPECT_EQ(height, 200);
        for (unsigned i = 0; i < sizeof space; ++i) {
            bool field = (i >= 4 && i < 6) || (i >= 8 && i < 10);
            if (!field) {
                ASSERT_EQ(space[i], i < size ? 0xA5 : 0) << "size " << size << ", byte " << i;
            }
        }
    }
    EXPECT_EQ(vpad_set_range_record_size(9), 0);
    EXPECT_EQ(vpad_set_range_record_size(4097), 0);
}

TEST_F(VirtualPad, ReportsQueuedWhileAnotherThreadReadsArriveInOrder)
{
    const int total = 20000;
    openWith(record);
    TestThread reader(readUntilClosed(device));
    for (int i = 0; i < total; ++i)
        vpad_queue_pen(1, i & 1, static_cast<uint16_t>(i % 65536), static_cast<uint16_t>(i / 65536));
    ASSERT_EQ(vpad_wait_idle(10000), 1);

    std::vector<Received> got = inbox.take();
    ASSERT_EQ(got.size(), static_cast<size_t>(total));
    for (int i = 0; i < total; ++i) {
        ASSERT_EQ(got[i].x, i % 65536) << "report " << i;
        ASSERT_EQ(got[i].contact, i & 1) << "report " << i;
        ASSERT_EQ(got[i].thread, GetThreadId(reader.get()));
    }
    scriptel_close_device(device);
    EXPECT_TRUE(reader.finishedWithin(2000));
}

TEST_F(VirtualPad, TwoReadersShareTheInputWithoutLossOrRepeats)
{
    const int total = 20000;
    openWith(record);
    TestThread first(readUntilClosed(device));
    TestThread second(readUntilClosed(device));
    for (int i = 0; i < total; ++i) {
        vpad_queue_pen(1, 1, static_cast<uint16_t>(i % 65536), 0);
        if (i % 500 == 0)
            Sleep(0);
    }
    ASSERT_EQ(vpad_wait_idle(10000), 1);
    scriptel_close_device(device);
    EXPECT_TRUE(first.finishedWithin(2000));
    EXPECT_TRUE(second.finishedWithin(2000));

    std::vector<Received> got = inbox.take();
    ASSERT_EQ(got.size(), static_cast<size_t>(total));
    std::vector<int> seen(total, 0);
    for (const Received& received : got)
        ++seen[received.x];
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), total);
    // Each reader gets its share in queue order.
    for (HANDLE reader : {first.get(), second.get()}) {
        int last = -1;
        for (const Received& received : got) {
            if (received.thread != GetThreadId(reader))
                continue;
            EXPECT_GT(received.x, last);
            last = received.x;
        }
    }
}

TEST_F(VirtualPad, CallbackMayClearTheScreen)
{
    openWith(recordAndClearScreen);
    TestThread reader(readUntilClosed(device));
    for (int i = 0; i < 50; ++i)
        vpad_queue_pen(1, 1, static_cast<uint16_t>(i), 0);
    ASSERT_EQ(vpad_wait_idle(5000), 1);
    EXPECT_EQ(inbox.take().size(), 50u);
    EXPECT_EQ(vpad_call_count("scriptel_clear_screen"), 50);
}

TEST_F(VirtualPad, CallsFromInsideTheCallbackButClearingTheScreenAreCountedAsFaults)
{
    openWith(clearThenClose);
    vpad_queue_pen(1, 1, 1, 1);
    scriptel_device_read(device);
    EXPECT_EQ(vpad_calls_inside_callback(), 1);
    scriptel_close_device(device);
    EXPECT_EQ(vpad_calls_inside_callback(), 1) << "outside the callback";
    vpad_reset();
    EXPECT_EQ(vpad_calls_inside_callback(), 0);
}

// A read that does not wait, or waits a while, returns with nothing queued;
// either delivers what is queued.
TEST_F(VirtualPad, ReadWaitsAsChosen)
{
    openWith(record);
    for (int wait : {0, 20}) {
        vpad_set_read_wait(wait);
        EXPECT_EQ(scriptel_device_read(device), 0) << wait;
        vpad_queue_pen(1, 1, 5, 6);
        EXPECT_EQ(scriptel_device_read(device), 1);
        EXPECT_EQ(inbox.take().size(), 1u);
    }
}

TEST_F(VirtualPad, ScreenClearsWhileAReadBlocksAndWhenClosed)
{
    openWith(record);
    TestThread reader(readUntilClosed(device));
    EXPECT_FALSE(reader.finishedWithin(50));
    EXPECT_EQ(scriptel_clear_screen(device), 1);
    scriptel_close_device(device);
    EXPECT_TRUE(reader.finishedWithin(2000));
    EXPECT_EQ(scriptel_clear_screen(device), 1);
    EXPECT_EQ(vpad_call_count("scriptel_clear_screen"), 2);
}

TEST_F(VirtualPad, CloseDuringDeliveryEndsTheRead)
{
    Gate held;
    gate = &held;
    openWith(recordAndHoldFirst);
    for (int i = 0; i < 10; ++i)
        vpad_queue_pen(1, 1, static_cast<uint16_t>(i), 0);
    int result = -1;
    TestThread reader([&] { result = scriptel_device_read(device); });
    ASSERT_TRUE(held.entered.waitFor(5000));

    scriptel_close_device(device);
    held.release.set();
    ASSERT_TRUE(reader.finishedWithin(2000));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(inbox.take().size(), 1u);
}

TEST_F(VirtualPad, WaitIdleWaitsUntilTheCallbackReturns)
{
    EXPECT_EQ(vpad_wait_idle(0), 1);
    Gate held;
    gate = &held;
    openWith(recordAndHoldFirst);
    vpad_queue_pen(1, 1, 1, 1);
    vpad_queue_pen(1, 1, 2, 2);
    EXPECT_EQ(vpad_wait_idle(50), 0);   // queued, nobody reads yet

    TestThread reader(readUntilClosed(device));
    ASSERT_TRUE(held.entered.waitFor(5000));
    EXPECT_EQ(vpad_wait_idle(50), 0);   // queue taken, callback still running
    held.release.set();
    EXPECT_EQ(vpad_wait_idle(5000), 1);
    EXPECT_EQ(inbox.take().size(), 2u);
}

TEST_F(VirtualPad, BlockedReadUsesNoProcessorTime)
{
    openWith(record);
    TestThread reader(readUntilClosed(device));
    Sleep(300);
    FILETIME created, exited, kernel, user;
    ASSERT_TRUE(GetThreadTimes(reader.get(), &created, &exited, &kernel, &user));
    ULONGLONG busy = (ULONGLONG(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime)
        + (ULONGLONG(user.dwHighDateTime) << 32 | user.dwLowDateTime);
    EXPECT_LT(busy, 30u * 10000) << "100 ns units spent by a reader with nothing to read";
}

TEST_F(VirtualPad, CountsEachCallByName)
{
    // SetUp made one scriptel_init and one scriptel_list_devices.
    EXPECT_EQ(vpad_call_count("scriptel_init"), 1);
    EXPECT_EQ(vpad_call_count("scriptel_list_devices"), 1);
    scriptel_open_device(device);
    scriptel_open_device(device);
    scriptel_get_coordinate_range(device);
    scriptel_register_input_callback(device, record);
    scriptel_clear_screen(device);
    scriptel_clear_screen(device);
    scriptel_clear_screen(device);
    scriptel_close_device(device);
    scriptel_device_read(device);   // closed: returns at once

    EXPECT_EQ(vpad_call_count("scriptel_open_device"), 2);
    EXPECT_EQ(vpad_call_count("scriptel_get_coordinate_range"), 1);
    EXPECT_EQ(vpad_call_count("scriptel_register_input_callback"), 1);
    EXPECT_EQ(vpad_call_count("scriptel_clear_screen"), 3);
    EXPECT_EQ(vpad_call_count("scriptel_close_device"), 1);
    EXPECT_EQ(vpad_call_count("scriptel_device_read"), 1);
    EXPECT_EQ(vpad_call_count("scriptel_frobnicate"), -1);
    EXPECT_EQ(vpad_call_count(nullptr), -1);

    vpad_reset();
    EXPECT_EQ(vpad_call_count("scriptel_init"), 0);
    EXPECT_EQ(vpad_call_count("scriptel_clear_screen"), 0);
}

TEST_F(VirtualPad, UnplugDiscardsPendingInput)
{
    vpad_queue_pen(1, 1, 1, 1);
    EXPECT_EQ(vpad_wait_idle(0), 0);
    vpad_unplug();
    EXPECT_EQ(vpad_wait_idle(0), 1);
}

TEST_F(VirtualPad, ReplaysTheSampleSignature)
{
    openWith(record);
    TestThread reader(readUntilClosed(device));
    int reports = vpad_replay_file(sampleRecording().c_str(), 0);
    ASSERT_GT(reports, 100) << vpad_last_error();
    EXPECT_STREQ(vpad_last_error(), "");
    ASSERT_EQ(vpad_wait_idle(5000), 1);

    std::vector<Received> got = inbox.take();
    ASSERT_EQ(got.size(), static_cast<size_t>(reports));
    EXPECT_EQ(got.front().type, SCRIPTEL_REPORT_PEN);
    EXPECT_EQ(got.front().contact, 1);
    EXPECT_EQ(got.back().type, SCRIPTEL_REPORT_BUTTON);
    EXPECT_EQ(got.back().button, "ok");
    size_t strokes = 0;
    for (size_t i = 0; i + 1 < got.size(); ++i) {
        EXPECT_EQ(got[i].type, SCRIPTEL_REPORT_PEN);
        EXPECT_LT(got[i].x, 15360);
        EXPECT_LT(got[i].y, 9600);
        strokes += got[i].contact && (i == 0 || !got[i - 1].contact);
    }
    EXPECT_GE(strokes, 3u);
}

TEST_F(VirtualPad, PacedReplayKeepsTheRecordedTimes)
{
    TempFile recording(header + "0 pen down 10 10\n150 pen down 20 20\n300 pen up 20 20\n300 button ok\n");
    openWith(record);
    TestThread reader(readUntilClosed(device));
    ULONGLONG start = GetTickCount64();
    ASSERT_EQ(vpad_replay_file(recording.name(), 1), 4) << vpad_last_error();
    ASSERT_EQ(vpad_wait_idle(5000), 1);
    EXPECT_GE(GetTickCount64() - start, 280u);

    std::vector<Received> got = inbox.take();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[1].x, 20);
    EXPECT_EQ(got[2].contact, 0);
    EXPECT_EQ(got[3].button, "ok");
}

TEST_F(VirtualPad, ReplayTakesTheRecordedRange)
{
    TempFile recording(header + "# bench pad\nrange 12000 8000\n0 report 9\n");
    ASSERT_EQ(vpad_replay_file(recording.name(), 0), 1) << vpad_last_error();
    scriptel_coordinate_range range = scriptel_get_coordinate_range(device);
    EXPECT_EQ(range.width, 12000);
    EXPECT_EQ(range.height, 8000);
    EXPECT_EQ(device->width, 12000);
    EXPECT_EQ(device->height, 8000);

    openWith(record);
    ASSERT_EQ(scriptel_device_read(device), 1);
    std::vector<Received> got = inbox.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].type, 9);
}

TEST_F(VirtualPad, ResetStopsAPacedReplay)
{
    TempFile recording(header + "0 pen down 1 1\n60000 button late\n");
    ASSERT_EQ(vpad_replay_file(recording.name(), 1), 2) << vpad_last_error();
    EXPECT_EQ(vpad_wait_idle(100), 0);
    vpad_reset();
    EXPECT_EQ(vpad_wait_idle(0), 1);
}

TEST_F(VirtualPad, MalformedRecordingsAreRefusedNamingTheLine)
{
    struct Case {
        std::string text;
        const char* where;
    };
    const Case cases[] = {
        {"", "line 1:"},
        {"tallowmark-pad-recording 2\n0 pen down 1 1\n", "line 1:"},
        {"# comment first\n" + header + "0 pen down 1 1\n", "line 1:"},
        {header, "line 1:"},
        {header + "# only words\n\n", "line 3:"},
        {header + "0 pen down 1 1\n0 scribble 1 1\n", "line 3:"},
        {header + "# note\n\n0 pen down 70000 1\n", "line 4:"},
        {header + "0 pen down 1 65536\n", "line 2:"},
        {header + "0 pen down -1 1\n", "line 2:"},
        {header + "0 pen sideways 1 1\n", "line 2:"},
        {header + "0 pen down 1\n", "line 2:"},
        {header + "0 pen down 1 1 1\n", "line 2:"},
        {header + "10 pen down 1 1\n5 pen up 1 1\n", "line 3:"},
        {header + "99999999999 pen down 1 1\n", "line 2:"},
        {header + "0 pen down 1 1\n#" + std::string(300, 'x') + "\n", "line 3:"},
        {header + "0 button " + std::string(32, 'b') + "\n", "line 2:"},
        {header + "0 button\n", "line 2:"},
        {header + "0 report 2147483648\n", "line 2:"},
        {header + "0 pen down 1 1\nrange 100 100\n", "line 3:"},
        {header + "range 0 100\n0 pen down 1 1\n", "line 2:"},
        {header + std::string("0 pen down 1\x01 1\n"), "line 2:"},
        {header + std::string("0 button o\0k\n", 13), "line 2:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        TempFile recording(c.text);
        EXPECT_EQ(vpad_replay_file(recording.name(), 0), -1);
        EXPECT_NE(strstr(vpad_last_error(), c.where), nullptr) << vpad_last_error();
        EXPECT_EQ(vpad_wait_idle(0), 1);
    }
}

TEST_F(VirtualPad, MissingOrHugeRecordingsAreRefused)
{
    EXPECT_EQ(vpad_replay_file("Z:\\no\\such\\folder\\signature.txt", 0), -1);
    EXPECT_NE(strstr(vpad_last_error(), "cannot open"), nullptr) << vpad_last_error();
    EXPECT_EQ(vpad_replay_file(nullptr, 0), -1);
    EXPECT_STRNE(vpad_last_error(), "");

    TempFile huge(header + std::string(16 * 1024 * 1024, '#'));
    EXPECT_EQ(vpad_replay_file(huge.name(), 0), -1);
    EXPECT_NE(strstr(vpad_last_error(), "16 MiB"), nullptr) << vpad_last_error();
    EXPECT_EQ(vpad_wait_idle(0), 1);
}

} // namespace
