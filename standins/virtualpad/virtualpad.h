// Control interface of the virtual pad, the stand-in for the pad vendor's
// library. Tests and the demo host use it to plug and unplug a pad, queue
// input and replay recorded signatures; the control itself never calls it.
#pragma once

#include <cstdint>

#ifdef SCRIPTEL_BUILDING_LIBRARY
#define VPAD_API __declspec(dllexport)
#else
#define VPAD_API __declspec(dllimport)
#endif

struct scriptel_device;

extern "C" {

// Back to the state at load: no pad connected, default settings, counters
// zero, queue empty, no callback registered, any replay stopped.
VPAD_API void __cdecl vpad_reset(void);

// Plugs in a pad (the first and only device that scriptel_list_devices finds)
// with this name; null keeps the current name ("ST-1500 Virtual" at load).
VPAD_API void __cdecl vpad_connect(const char* name);
// Unplugs the pad: it is closed (a blocked read returns), the list is empty,
// and input still queued or being replayed goes with it.
VPAD_API void __cdecl vpad_unplug(void);
// Result that scriptel_open_device gives (1 = open, the default); any other
// value leaves the device closed.
VPAD_API void __cdecl vpad_set_open_result(int result);
// Width and height that scriptel_get_coordinate_range returns (default 15360
// by 9600) and those held in the device record (default 15360 by 9600).
VPAD_API void __cdecl vpad_set_coordinate_range(uint16_t width, uint16_t height);
VPAD_API void __cdecl vpad_set_device_extent(uint16_t width, uint16_t height);
// How many bytes scriptel_get_coordinate_range writes through the caller's
// pointer (12 at load, the fields' layout; anything from 10 to 4096): a
// library may use a larger record than the fields need. The bytes other than
// the two fields hold 0xA5. Returns 0, changing nothing, for another size.
VPAD_API int __cdecl vpad_set_range_record_size(unsigned bytes);

// How scriptel_device_read waits for input: -1 (at load) until input is
// queued or the pad is closed; 0 not at all, returning at once when nothing
// is queued; a positive value at most that many milliseconds. A real library
// may do any of these.
VPAD_API void __cdecl vpad_set_read_wait(int milliseconds);

// Input reports, delivered in order by the next scriptel_device_read. A
// button record holds the whole name, however long, and no byte after its
// terminator; a null name queues a button report that points at no record.
// A type 253 from vpad_queue_report points at a record with an empty name.
VPAD_API void __cdecl vpad_queue_pen(int type, int contact, uint16_t x, uint16_t y);
VPAD_API void __cdecl vpad_queue_button(const char* name);
VPAD_API void __cdecl vpad_queue_report(int type);   // a report of any type code, zero payload

// Replays a recording (see virtualpad/recording.h for the format) on a thread
// of the pad's own: at its recorded pace when paced is nonzero, else as fast
// as the queue takes it. Returns the number of reports, or -1 when the file
// is missing or malformed (vpad_last_error then says why).
VPAD_API int __cdecl vpad_replay_file(const char* path, int paced);
VPAD_API const char* __cdecl vpad_last_error(void);

// Waits until every queued or replayed report has been handed to the input
// callback and that callback has returned. Returns 1, or 0 on timeout.
VPAD_API int __cdecl vpad_wait_idle(uint32_t timeoutMs);

// How often a library call was made since load or the last vpad_reset, by
// its name ("scriptel_clear_screen", ...); -1 for an unknown name.
VPAD_API long __cdecl vpad_call_count(const char* call);

// Library calls other than scriptel_clear_screen made from inside the input
// callback since load or the last vpad_reset. Each is a fault of the caller:
// a real library may hold a lock of its own across the callback, or free
// what the read still uses when the pad is closed.
VPAD_API long __cdecl vpad_calls_inside_callback(void);

// The device record of the pad, connected or not.
VPAD_API scriptel_device* __cdecl vpad_device(void);

} // extern "C"
