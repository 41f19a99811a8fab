// A captured signature as the host keeps it: strokes of points in the pad's
// own coordinates, in the order the pen drew them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct Signature {
    std::vector<std::vector<POINT>> strokes;    // none empty
    uint64_t durationMs = 0;                     // first pen down to last pen up

    size_t pointCount() const
    {
        size_t total = 0;
        for (const auto& stroke : strokes)
            total += stroke.size();
        return total;
    }
};
