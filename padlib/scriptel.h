// The pad vendor's library, libscriptel-proscript-windows-x64.dll: the eight
// calls the control makes and the record fields it reads or writes. Only the
// listed fields are the control's business; the rest of each record belongs
// to the library and is kept as opaque padding at the library's offsets.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef SCRIPTEL_BUILDING_LIBRARY
#define SCRIPTEL_API __declspec(dllexport)
#else
#define SCRIPTEL_API __declspec(dllimport)
#endif

extern "C" {

struct scriptel_device {
    uint8_t reserved0[16];
    const char* name;               // zero-terminated pad name
    uint8_t reserved24[16];
    uint8_t isOpen;                 // nonzero while the device is open
    uint8_t reserved41[5];
    uint16_t width;                 // coordinate range, used when the range record gives 0
    uint16_t height;
    uint8_t reserved50[38];
    void* application;              // the caller's slot; the library never touches it
};

// Returned by value through a hidden pointer to the caller's space. Only the
// two fields are known; a library's record may be larger than they need, so
// the caller's space is made ample enough for any size a library may use.
struct scriptel_coordinate_range {
    uint8_t reserved0[4];
    uint16_t width;
    uint8_t reserved6[2];
    uint16_t height;
    uint8_t reserved10[246];
};

// Report type codes; the callback's type argument is examined in its low 8 bits.
enum : int {
    SCRIPTEL_REPORT_PEN = 1,
    SCRIPTEL_REPORT_PEN_EXTENDED = 2,
    SCRIPTEL_REPORT_BUTTON = 253,
};

// The name starts here and runs to its terminator, however long it is: only
// as many bytes are read as a comparison needs.
struct scriptel_button {
    uint8_t reserved0[42];
    char name[1];                   // zero-terminated button name, e.g. "ok"
};

// A report holds no more than its fields need: nothing past y is read.
struct scriptel_pen_report {
    uint8_t reserved0;
    uint8_t contact;                // nonzero while the pen touches the pad
    uint8_t reserved2[4];
    uint16_t x;
    uint16_t y;
};

struct scriptel_button_report {
    uint8_t reserved0[8];
    const scriptel_button* button;
};

typedef void (__cdecl* scriptel_input_callback)(scriptel_device* device, void* report, int type);

SCRIPTEL_API int __cdecl scriptel_init(void);
SCRIPTEL_API int __cdecl scriptel_list_devices(scriptel_device** firstDevice);
SCRIPTEL_API int __cdecl scriptel_open_device(scriptel_device* device);
SCRIPTEL_API scriptel_coordinate_range __cdecl scriptel_get_coordinate_range(scriptel_device* device);
SCRIPTEL_API int __cdecl scriptel_clear_screen(scriptel_device* device);
SCRIPTEL_API int __cdecl scriptel_close_device(scriptel_device* device);
SCRIPTEL_API int __cdecl scriptel_register_input_callback(scriptel_device* device, scriptel_input_callback callback);
SCRIPTEL_API int __cdecl scriptel_device_read(scriptel_device* device);

} // extern "C"

// The library's 64-bit layout, byte for byte.
static_assert(offsetof(scriptel_device, name) == 16, "device name pointer");
static_assert(offsetof(scriptel_device, isOpen) == 40, "device open flag");
static_assert(offsetof(scriptel_device, width) == 46, "device width");
static_assert(offsetof(scriptel_device, height) == 48, "device height");
static_assert(offsetof(scriptel_device, application) == 88, "device application slot");
static_assert(offsetof(scriptel_coordinate_range, width) == 4, "range width");
static_assert(offsetof(scriptel_coordinate_range, height) == 8, "range height");
static_assert(sizeof(scriptel_coordinate_range) == 256, "room for any library's range record");
static_assert(offsetof(scriptel_pen_report, contact) == 1, "pen contact flag");
static_assert(offsetof(scriptel_pen_report, x) == 6, "pen x");
static_assert(offsetof(scriptel_pen_report, y) == 8, "pen y");
static_assert(offsetof(scriptel_button_report, button) == 8, "button record pointer");
static_assert(offsetof(scriptel_button, name) == 42, "button name");
