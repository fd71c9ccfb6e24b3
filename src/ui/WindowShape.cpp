#include "ui/WindowShape.h"

#include <algorithm>
#include <map>
#include <utility>

namespace OrvoUi {

ShapeRect ShapeRegion::Bounds() const {
    if (rects.empty()) return {};
    ShapeRect b = rects.front();
    for (const auto& r : rects) {
        b.left = std::min(b.left, r.left);
        b.top = std::min(b.top, r.top);
        b.right = std::max(b.right, r.right);
        b.bottom = std::max(b.bottom, r.bottom);
    }
    return b;
}

namespace {

uint32_t PixelAt(const uint8_t* row, int x, int nBitsPerPixel) {
    switch (nBitsPerPixel) {
        case 1: return (row[x / 8] >> (7 - x % 8)) & 1u;
        case 4: return (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xFu;
        case 8: return row[x];
        case 16: return row[2 * x] | (row[2 * x + 1] << 8);
        case 24: return row[3 * x] | (row[3 * x + 1] << 8) | (static_cast<uint32_t>(row[3 * x + 2]) << 16);
        case 32: return row[4 * x] | (row[4 * x + 1] << 8) | (static_cast<uint32_t>(row[4 * x + 2]) << 16);
        default: return 0;
    }
}

}  // namespace

int BuildMask(const uint8_t* pbyBits, int nBitsPerPixel, int nRows, uint8_t* pbyMask, int nWidth, int nStride,
              int nMaskStride) {
    switch (nBitsPerPixel) {
        case 1: case 4: case 8: case 16: case 24: case 32: break;
        default: return 0;
    }
    if (nRows <= 0 || nWidth <= 0) return 1;
    const uint32_t key = PixelAt(pbyBits, 0, nBitsPerPixel);
    for (int y = 0; y < nRows; ++y) {
        const uint8_t* row = pbyBits + static_cast<size_t>(y) * nStride;
        uint8_t* mask = pbyMask + static_cast<size_t>(y) * nMaskStride;
        for (int x = 0; x < nWidth; ++x)
            if (PixelAt(row, x, nBitsPerPixel) != key) mask[x] = 1;
    }
    return 1;
}

namespace {

struct Run {
    int y, s, e;
};

// Rows of equal spans stacked into taller rectangles.
std::vector<ShapeRect> RectsFromRuns(std::vector<Run> runs) {
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.y != b.y ? a.y < b.y : a.s < b.s; });
    std::vector<ShapeRect> rects;
    std::map<std::pair<int, int>, size_t> open;  // span -> rectangle ending at the previous row
    std::map<std::pair<int, int>, size_t> next;
    int row = -1;
    for (const Run& r : runs) {
        if (r.y != row) {
            open = r.y == row + 1 ? std::move(next) : std::map<std::pair<int, int>, size_t>{};
            next.clear();
            row = r.y;
        }
        const auto key = std::make_pair(r.s, r.e);
        auto it = open.find(key);
        if (it != open.end()) {
            rects[it->second].bottom = r.y + 1;
            next[key] = it->second;
        } else {
            rects.push_back({r.s, r.y, r.e, r.y + 1});
            next[key] = rects.size() - 1;
        }
    }
    return rects;
}

}  // namespace

std::optional<ShapeRegion> RegionFromBitmap(const ShapeBitmap& bitmap) {
    const int w = bitmap.nWidth, h = bitmap.nHeight;
    if (bitmap.nPlanes != 1 || w <= 0 || h <= 0 || bitmap.nStride <= 0) return std::nullopt;
    if (bitmap.bits.size() != static_cast<size_t>(bitmap.nStride) * h) return std::nullopt;
    if (static_cast<long long>(bitmap.nStride) * 8 < static_cast<long long>(w) * bitmap.nBitsPerPixel) return std::nullopt;

    const int ms = w + 1;  // the extra column stays 0 and ends every run at the row's end
    std::vector<uint8_t> mask(static_cast<size_t>(ms) * h, 0);
    if (!BuildMask(bitmap.bits.data(), bitmap.nBitsPerPixel, h, mask.data(), w, bitmap.nStride, ms)) return std::nullopt;

    ShapeRegion region;
    std::vector<Run> runs;
    auto at = [&](int x, int y) -> uint8_t& { return mask[static_cast<size_t>(y) * ms + x]; };
    auto clearRight = [&](int x, int y) {  // clears from x while set; the column after the run
        while (at(x, y) != 0) at(x++, y) = 0;
        return x;
    };
    size_t scan = 0;  // traced pixels are cleared, so nothing before this is set any more
    for (;;) {
        const auto found = std::find(mask.begin() + static_cast<std::ptrdiff_t>(scan), mask.end(), 1);
        if (found == mask.end()) break;
        const size_t idx = static_cast<size_t>(found - mask.begin());
        scan = idx;
        int r = static_cast<int>(idx / ms), s = static_cast<int>(idx % ms);
        int e = clearRight(s, r);
        runs.push_back({r, s, e});
        std::vector<ShapePoint> left{{s, r}}, right{{e, r}};
        while (r + 1 < h) {
            const int r2 = r + 1;
            int s2, from;
            if (at(s, r2) != 0) {
                s2 = s;
                while (s2 >= 0 && at(s2, r2) != 0) at(s2--, r2) = 0;
                ++s2;
                from = s + 1;
            } else {
                int f = s + 1;
                while (f <= e && at(f, r2) == 0) ++f;
                if (f > e) break;
                at(f, r2) = 0;
                s2 = f;
                from = f + 1;
            }
            const int e2 = clearRight(from, r2);
            runs.push_back({r2, s2, e2});
            const int pl = left.back().x;
            if (pl < s2) left.push_back({pl, r2});
            else if (pl > s2 + 1) left.push_back({pl - 1, r2});
            left.push_back({s2, r2});
            const int pr = right.back().x;
            if (e2 > pr + 1) right.push_back({pr + 1, r2});
            else if (e2 < pr - 1) right.push_back({pr - 1, r2});
            right.push_back({e2, r2});
            s = s2;
            e = e2;
            r = r2;
        }
        left.push_back({left.back().x, left.back().y + 1});
        right.push_back({right.back().x - 1, right.back().y + 1});
        std::vector<ShapePoint> polygon;
        polygon.reserve(left.size() + right.size() + 1);
        polygon.push_back(left.front());
        polygon.insert(polygon.end(), right.begin(), right.end());
        polygon.insert(polygon.end(), left.rbegin(), left.rend());
        region.polygons.push_back(std::move(polygon));
    }
    if (region.polygons.empty()) return std::nullopt;
    region.rects = RectsFromRuns(std::move(runs));
    return region;
}

ShapePoint CenteredOrigin(const ShapeRect& b, int nWorkWidth, int nWorkHeight) {
    return {nWorkWidth / 2 - b.left - (b.right - b.left) / 2, nWorkHeight / 2 - b.top - (b.bottom - b.top) / 2};
}

}  // namespace OrvoUi
