// The signature as SVG text and as a PNG image encoded by the Windows
// Imaging Component. Both use one pixel grid at imageDpi: the pad's
// coordinate range is stretched over WidthInInches by HeightInInches.
#include "signature_image.h"

#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "handles.h"
#include "text.h"

namespace {

constexpr double smallestInches = 0.1;
constexpr double largestInches = 50.0;
constexpr double widestLine = 256.0;                    // pixels
constexpr size_t drawingBudget = 64 * 1024 * 1024;      // bytes of the oversized drawing

InkGeometry geometryOf(const ImageLayout& layout)
{
    return inkGeometry(layout, std::max(1L, std::lround(layout.widthInches * imageDpi)),
        std::max(1L, std::lround(layout.heightInches * imageDpi)), imageDpi);
}

std::string colorText(COLORREF color)
{
    char text[8];
    snprintf(text, sizeof text, "#%02X%02X%02X", GetRValue(color), GetGValue(color), GetBValue(color));
    return text;
}

std::string writeFile(const std::wstring& path, const std::string& content)
{
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return "cannot create " + narrow(path) + ": " + describeResult(HRESULT_FROM_WIN32(GetLastError()));
    DWORD written = 0;
    if (!WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
        written != content.size())
        return "cannot write " + narrow(path) + ": " + describeResult(HRESULT_FROM_WIN32(GetLastError()));
    return std::string();
}

// Lines drawn with GDI are not smoothed, so the PNG is drawn this many times
// larger in each direction and every block of pixels averaged into one.
int oversampling(const InkGeometry& geometry)
{
    for (int factor = 4; factor > 1; --factor) {
        size_t bytes = static_cast<size_t>(geometry.width) * factor * geometry.height * factor * 4;
        if (bytes <= drawingBudget)
            return factor;
    }
    return 1;
}

// The same picture, factor times larger in each direction.
InkGeometry magnified(InkGeometry geometry, int factor)
{
    geometry.width *= factor;
    geometry.height *= factor;
    geometry.scaleX *= factor;
    geometry.scaleY *= factor;
    geometry.lineWidth *= factor;
    return geometry;
}

// Averages each factor-by-factor block of the 32-bit drawing into one pixel
// of a top-down 24-bit BGR image with rows of stride bytes.
std::vector<BYTE> reduce(const BYTE* drawing, const InkGeometry& geometry, int factor, UINT stride)
{
    std::vector<BYTE> image(static_cast<size_t>(stride) * geometry.height);
    size_t drawingStride = static_cast<size_t>(geometry.width) * factor * 4;
    unsigned samples = static_cast<unsigned>(factor * factor);
    for (int y = 0; y < geometry.height; ++y) {
        for (int x = 0; x < geometry.width; ++x) {
            unsigned sum[3] = {0, 0, 0};
            for (int dy = 0; dy < factor; ++dy) {
                const BYTE* source = drawing + (static_cast<size_t>(y) * factor + dy) * drawingStride +
                                     static_cast<size_t>(x) * factor * 4;
                for (int dx = 0; dx < factor; ++dx, source += 4) {
                    sum[0] += source[0];
                    sum[1] += source[1];
                    sum[2] += source[2];
                }
            }
            BYTE* target = &image[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3];
            for (int channel = 0; channel < 3; ++channel)
                target[channel] = static_cast<BYTE>((sum[channel] + samples / 2) / samples);
        }
    }
    return image;
}

// Encodes a 24-bit BGR image as PNG into the file. Returns what failed.
std::string encodePng(const std::wstring& path, const InkGeometry& geometry, UINT stride, std::vector<BYTE>& pixels)
{
    auto failed = [&](const char* step, HRESULT result) {
        return "cannot write " + narrow(path) + ": " + step + " failed with " + describeResult(result);
    };
    ComPtr<IWICImagingFactory> factory;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
        factory.putVoid());
    if (FAILED(result))
        return failed("creating the imaging factory", result);
    ComPtr<IWICStream> stream;
    if (FAILED(result = factory->CreateStream(stream.put())) ||
        FAILED(result = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)))
        return failed("opening the file", result);
    ComPtr<IWICBitmapEncoder> encoder;
    if (FAILED(result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) ||
        FAILED(result = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)))
        return failed("starting the PNG encoder", result);
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> frameOptions;
    if (FAILED(result = encoder->CreateNewFrame(frame.put(), frameOptions.put())) ||
        FAILED(result = frame->Initialize(frameOptions.get())) ||
        FAILED(result = frame->SetSize(static_cast<UINT>(geometry.width), static_cast<UINT>(geometry.height))) ||
        FAILED(result = frame->SetResolution(imageDpi, imageDpi)))
        return failed("setting up the image", result);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(result = frame->SetPixelFormat(&format)))
        return failed("choosing the pixel format", result);
    if (format != GUID_WICPixelFormat24bppBGR)
        return failed("choosing the pixel format", WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT);
    if (FAILED(result = frame->WritePixels(static_cast<UINT>(geometry.height), stride,
                   static_cast<UINT>(pixels.size()), pixels.data())) ||
        FAILED(result = frame->Commit()) || FAILED(result = encoder->Commit()))
        return failed("encoding the image", result);
    return std::string();
}

} // namespace

InkGeometry inkGeometry(const ImageLayout& layout, int width, int height, double pixelsPerInch)
{
    InkGeometry geometry;
    geometry.width = width;
    geometry.height = height;
    geometry.scaleX = static_cast<double>(width) / layout.padWidth;
    geometry.scaleY = static_cast<double>(height) / layout.padHeight;
    // A weight below one still draws.
    geometry.lineWidth = std::min(widestLine, std::max(1.0, layout.inkWeight * pixelsPerInch / 96.0));
    return geometry;
}

void drawInk(HDC dc, const std::vector<POINT>& stroke, size_t first, COLORREF inkColor, const InkGeometry& geometry)
{
    if (first >= stroke.size())
        return;
    LOGBRUSH ink = {BS_SOLID, inkColor, 0};
    UniqueGdiObject pen(ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND,
        static_cast<DWORD>(std::lround(geometry.lineWidth)), &ink, 0, nullptr));
    UniqueGdiObject brush(CreateSolidBrush(inkColor));
    ScopedSelection penSelection(dc, pen.get());
    ScopedSelection brushSelection(dc, brush.get());

    auto pixel = [&](const POINT& point) {
        return POINT{std::lround(point.x * geometry.scaleX), std::lround(point.y * geometry.scaleY)};
    };
    if (stroke.size() == 1) {
        ScopedSelection noOutline(dc, GetStockObject(NULL_PEN));
        POINT dot = pixel(stroke[0]);
        LONG radius = std::max(1L, std::lround(geometry.lineWidth / 2));
        Ellipse(dc, dot.x - radius, dot.y - radius, dot.x + radius + 1, dot.y + radius + 1);
        return;
    }
    std::vector<POINT> points;
    for (size_t i = first ? first - 1 : 0; i < stroke.size(); ++i)
        points.push_back(pixel(stroke[i]));
    Polyline(dc, points.data(), static_cast<int>(points.size()));
}

std::string checkImageLayout(const ImageLayout& layout)
{
    if (layout.padWidth <= 0 || layout.padHeight <= 0)
        return "the control reports no coordinate range for the pad";
    auto usable = [](double inches) {
        return std::isfinite(inches) && inches >= smallestInches && inches <= largestInches;
    };
    if (!usable(layout.widthInches) || !usable(layout.heightInches)) {
        char text[256];
        snprintf(text, sizeof text,
            "the control gives a signature area of %g by %g inches; each side must be between %g and %g "
            "(set the pad's width on the settings page)",
            layout.widthInches, layout.heightInches, smallestInches, largestInches);
        return text;
    }
    return std::string();
}

std::string writeSignatureSvg(const std::wstring& path, const Signature& signature, const ImageLayout& layout)
{
    std::string problem = checkImageLayout(layout);
    if (!problem.empty())
        return problem;
    InkGeometry geometry = geometryOf(layout);
    std::string color = colorText(layout.inkColor);
    char text[512];
    snprintf(text, sizeof text,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.3fin\" height=\"%.3fin\" viewBox=\"0 0 %d %d\">\n"
        "<rect width=\"%d\" height=\"%d\" fill=\"#FFFFFF\"/>\n"
        "<g fill=\"none\" stroke=\"%s\" stroke-width=\"%g\" stroke-linecap=\"round\" stroke-linejoin=\"round\">\n",
        layout.widthInches, layout.heightInches, geometry.width, geometry.height, geometry.width, geometry.height,
        color.c_str(), geometry.lineWidth);
    std::string svg = text;
    for (const auto& stroke : signature.strokes) {
        if (stroke.size() == 1) {
            snprintf(text, sizeof text, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%g\" fill=\"%s\" stroke=\"none\"/>\n",
                stroke[0].x * geometry.scaleX, stroke[0].y * geometry.scaleY, geometry.lineWidth / 2, color.c_str());
            svg += text;
            continue;
        }
        svg += "<polyline points=\"";
        for (size_t i = 0; i < stroke.size(); ++i) {
            snprintf(text, sizeof text, "%s%.1f,%.1f", i ? " " : "", stroke[i].x * geometry.scaleX,
                stroke[i].y * geometry.scaleY);
            svg += text;
        }
        svg += "\"/>\n";
    }
    svg += "</g>\n</svg>\n";
    return writeFile(path, svg);
}

std::string writeSignaturePng(const std::wstring& path, const Signature& signature, const ImageLayout& layout)
{
    std::string problem = checkImageLayout(layout);
    if (!problem.empty())
        return problem;
    InkGeometry geometry = geometryOf(layout);
    int factor = oversampling(geometry);
    InkGeometry drawn = magnified(geometry, factor);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = geometry.width * factor;
    info.bmiHeader.biHeight = -geometry.height * factor;    // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueGdiObject drawing(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    if (!drawing || !dc)
        return "cannot write " + narrow(path) + ": no memory for drawing the signature";
    {
        ScopedSelection selection(dc.get(), drawing.get());
        PatBlt(dc.get(), 0, 0, geometry.width * factor, geometry.height * factor, WHITENESS);
        for (const auto& stroke : signature.strokes)
            drawInk(dc.get(), stroke, 0, layout.inkColor, drawn);
        GdiFlush();
    }

    UINT stride = (static_cast<UINT>(geometry.width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels = reduce(static_cast<const BYTE*>(bits), geometry, factor, stride);
    std::string failure = encodePng(path, geometry, stride, pixels);
    if (!failure.empty())
        DeleteFileW(path.c_str());  // no half-written image is left behind
    return failure;
}
