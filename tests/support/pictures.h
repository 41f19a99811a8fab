// Pictures the tests look at pixel by pixel: PNG files read back through
// WIC, and windows as the screen shows them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// 24-bit BGR pixels, rows top down.
struct Picture {
    UINT width = 0;
    UINT height = 0;
    double dpiX = 0.0;
    double dpiY = 0.0;
    std::vector<BYTE> pixels;

    COLORREF at(UINT x, UINT y) const
    {
        const BYTE* pixel = &pixels[(static_cast<size_t>(y) * width + x) * 3];
        return RGB(pixel[2], pixel[1], pixel[0]);
    }
};

// Fails the test, and gives an empty picture, when the file is no PNG.
Picture decodePng(const std::wstring& path);
// A window's client area copied from the screen, where any process's
// windows are seen as drawn.
Picture screenPicture(HWND window);

bool closeTo(COLORREF actual, COLORREF expected, int tolerance = 8);
// The smallest rectangle holding every pixel that matches; empty when none.
RECT boundsOf(const Picture& picture, const std::function<bool(COLORREF)>& matches);
