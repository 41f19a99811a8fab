// Images of a captured signature, drawn as the control's settings say: the
// ink's colour and weight, and the size the pad covers on the document.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "signature.h"

// Resolution of the PNG image; the SVG uses the same pixel grid.
constexpr int imageDpi = 150;

struct ImageLayout {
    LONG padWidth = 0;          // the pad's coordinate range: Width and Height
    LONG padHeight = 0;
    double widthInches = 0.0;   // WidthInInches and HeightInInches
    double heightInches = 0.0;
    COLORREF inkColor = 0;      // InkColor
    LONG inkWeight = 0;         // InkWeight: the line width in pixels at 96 dpi
};

// Where the signature lies on a picture of the signature area.
struct InkGeometry {
    int width = 0;          // pixels
    int height = 0;
    double scaleX = 0.0;    // pixels per pad unit
    double scaleY = 0.0;
    double lineWidth = 0.0; // pixels
};

// The signature area drawn width by height pixels, at pixelsPerInch on the
// document: the ink's weight counts pixels at 96 per inch.
InkGeometry inkGeometry(const ImageLayout& layout, int width, int height, double pixelsPerInch);
// Draws one stroke in the ink's colour from its point `first` on, joined to
// the point before it; the whole stroke from 0. A stroke of one point is a dot.
void drawInk(HDC dc, const std::vector<POINT>& stroke, size_t first, COLORREF inkColor, const InkGeometry& geometry);

// Empty when images can be drawn with this layout, otherwise why not.
std::string checkImageLayout(const ImageLayout& layout);

// Each writes one file and returns an empty string, or says what failed.
std::string writeSignatureSvg(const std::wstring& path, const Signature& signature, const ImageLayout& layout);
std::string writeSignaturePng(const std::wstring& path, const Signature& signature, const ImageLayout& layout);
