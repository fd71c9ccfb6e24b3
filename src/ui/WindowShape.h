// The window's outline taken from a picture of the skin: every pixel that differs from the
// top-left pixel belongs to the shape. The picture is traced into polygons (one per connected
// run of rows), which are united into the window's region.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace OrvoUi {

// A device-dependent bitmap as read back from the screen: rows top-down, nStride bytes apart;
// 16-, 24- and 32-bit pixels little-endian.
struct ShapeBitmap {
    int nWidth = 0;
    int nHeight = 0;
    int nStride = 0;
    int nBitsPerPixel = 32;
    int nPlanes = 1;
    std::vector<uint8_t> bits;
};

struct ShapePoint {
    int x = 0;
    int y = 0;
    bool operator==(const ShapePoint&) const = default;
};

struct ShapeRect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    bool operator==(const ShapeRect&) const = default;
};

struct ShapeRegion {
    // The traced outlines, in tracing order (what a polygon-region API is given).
    std::vector<std::vector<ShapePoint>> polygons;
    // The same pixels as non-overlapping rectangles (what a rectangle-list API is given).
    std::vector<ShapeRect> rects;
    ShapeRect Bounds() const;
};

// Sets mask bytes to 1 where a pixel differs from the first pixel of the data. Rows advance by
// nStride bytes in the data and nMaskStride bytes in the mask. 1 for done, 0 for a pixel size
// other than 1, 4, 8, 16, 24 or 32 bits (32-bit pixels compare their low 24 bits).
int BuildMask(const uint8_t* pbyBits, int nBitsPerPixel, int nRows, uint8_t* pbyMask, int nWidth, int nStride,
              int nMaskStride);

// The region of the bitmap's non-key pixels; nullopt when there is none or the bitmap cannot
// be read (more than one plane, short data, unsupported pixel size).
std::optional<ShapeRegion> RegionFromBitmap(const ShapeBitmap& bitmap);

// Where a window whose region has the given bounds goes so that the shape's centre lands at half
// the work area's width and height (measured from the screen origin); integer halves truncate.
ShapePoint CenteredOrigin(const ShapeRect& bounds, int nWorkWidth, int nWorkHeight);

}  // namespace OrvoUi
