/* Method names and virtual-table byte offsets of the C binding. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

struct MethodSlot {
    const char* name;
    unsigned long long offset;
};

extern const struct MethodSlot signaturePadSlots[];
extern const unsigned signaturePadSlotCount;
extern const struct MethodSlot eventSlots[];
extern const unsigned eventSlotCount;

#ifdef __cplusplus
}
#endif
