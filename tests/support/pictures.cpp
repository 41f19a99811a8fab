#include "pictures.h"

#include <gtest/gtest.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdlib>

#include "handles.h"

Picture decodePng(const std::wstring& path)
{
    Picture image;
    ComPtr<IWICImagingFactory> factory;
    EXPECT_EQ(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                  factory.putVoid()), S_OK);
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapSource> converted;
    GUID container = {};
    if (!factory ||
        FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnLoad,
            decoder.put())) ||
        FAILED(decoder->GetContainerFormat(&container)) || FAILED(decoder->GetFrame(0, frame.put())) ||
        FAILED(WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame.get(), converted.put()))) {
        ADD_FAILURE() << "cannot decode " << std::string(path.begin(), path.end());
        return image;
    }
    EXPECT_TRUE(container == GUID_ContainerFormatPng);
    frame->GetSize(&image.width, &image.height);
    frame->GetResolution(&image.dpiX, &image.dpiY);
    image.pixels.resize(static_cast<size_t>(image.width) * image.height * 3);
    EXPECT_EQ(converted->CopyPixels(nullptr, image.width * 3, static_cast<UINT>(image.pixels.size()),
                  image.pixels.data()), S_OK);
    return image;
}

Picture screenPicture(HWND window)
{
    Picture picture;
    RECT client = {};
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) {
        ADD_FAILURE() << "the window has no client area to read";
        return picture;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    WindowDc screen(nullptr);
    UniqueGdiObject copy(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    if (!copy || !memory) {
        ADD_FAILURE() << "no memory for a copy of the screen";
        return picture;
    }
    {
        ScopedSelection selection(memory.get(), copy.get());
        EXPECT_TRUE(BitBlt(memory.get(), 0, 0, width, height, screen.get(), origin.x, origin.y, SRCCOPY));
        GdiFlush();
    }
    picture.width = static_cast<UINT>(width);
    picture.height = static_cast<UINT>(height);
    picture.pixels.resize(static_cast<size_t>(width) * height * 3);
    const BYTE* source = static_cast<const BYTE*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
        std::copy(source + i * 4, source + i * 4 + 3, &picture.pixels[i * 3]);
    return picture;
}

bool closeTo(COLORREF actual, COLORREF expected, int tolerance)
{
    return abs(GetRValue(actual) - GetRValue(expected)) <= tolerance &&
           abs(GetGValue(actual) - GetGValue(expected)) <= tolerance &&
           abs(GetBValue(actual) - GetBValue(expected)) <= tolerance;
}

RECT boundsOf(const Picture& picture, const std::function<bool(COLORREF)>& matches)
{
    RECT bounds = {LONG(picture.width), LONG(picture.height), 0, 0};
    for (UINT y = 0; y < picture.height; ++y) {
        for (UINT x = 0; x < picture.width; ++x) {
            if (!matches(picture.at(x, y)))
                continue;
            bounds.left = std::min(bounds.left, LONG(x));
            bounds.top = std::min(bounds.top, LONG(y));
            bounds.right = std::max(bounds.right, LONG(x) + 1);
            bounds.bottom = std::max(bounds.bottom, LONG(y) + 1);
        }
    }
    if (bounds.right <= bounds.left)
        bounds = RECT{};
    return bounds;
}
