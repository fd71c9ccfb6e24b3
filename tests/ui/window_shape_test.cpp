#include "ui/WindowShape.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

using namespace OrvoUi;

namespace {

using Pixels = std::set<std::pair<int, int>>;

// A 32-bit picture of the given size on a key colour, with the listed pixels painted.
ShapeBitmap Picture32(int w, int h, const Pixels& painted, uint32_t key = 0xFF00FF, uint32_t ink = 0x204060) {
    ShapeBitmap b{w, h, w * 4, 32, 1, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t v = painted.count({x, y}) ? ink : key;
            for (int i = 0; i < 4; ++i) b.bits[(static_cast<size_t>(y) * w + x) * 4 + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    return b;
}

Pixels Covered(const ShapeRegion& r) {
    Pixels out;
    for (const auto& rc : r.rects)
        for (int y = rc.top; y < rc.bottom; ++y)
            for (int x = rc.left; x < rc.right; ++x) EXPECT_TRUE(out.insert({x, y}).second) << "rectangles overlap";
    return out;
}

}  // namespace

TEST(WindowShape, NothingPaintedGivesNoRegion) {
    EXPECT_FALSE(RegionFromBitmap(Picture32(16, 8, {})));
}

TEST(WindowShape, SinglePixelTracesItsFivePointOutline) {
    const auto r = RegionFromBitmap(Picture32(10, 10, {{3, 4}}));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->polygons.size(), 1u);
    EXPECT_EQ(r->polygons[0], (std::vector<ShapePoint>{{3, 4}, {4, 4}, {3, 5}, {3, 5}, {3, 4}}));
    EXPECT_EQ(Covered(*r), (Pixels{{3, 4}}));
    EXPECT_EQ(r->Bounds(), (ShapeRect{3, 4, 4, 5}));
}

TEST(WindowShape, TwoBlobsAreTwoPolygonsInOneRegion) {
    const Pixels painted = {{1, 1}, {2, 1}, {1, 2}, {2, 2}, {6, 5}, {7, 5}, {7, 6}};
    const auto r = RegionFromBitmap(Picture32(10, 8, painted));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->polygons.size(), 2u);
    EXPECT_EQ(Covered(*r), painted);
    EXPECT_EQ(r->Bounds(), (ShapeRect{1, 1, 8, 7}));
}

TEST(WindowShape, RightEdgePointsOnlyForWideningByMoreThanOne) {
    // Rows 1..3 start at column 1 and widen by one pixel per row: no intermediate right points.
    // (The top-left pixel is the key, so the blobs keep off it.)
    const auto byOne = RegionFromBitmap(Picture32(8, 4, {{1, 1}, {1, 2}, {2, 2}, {1, 3}, {2, 3}, {3, 3}}));
    ASSERT_TRUE(byOne);
    EXPECT_EQ(byOne->polygons[0], (std::vector<ShapePoint>{{1, 1}, {2, 1}, {3, 2}, {4, 3}, {3, 4}, {1, 4}, {1, 3}, {1, 2}, {1, 1}}));
    // Widening by two adds the point one column right of the previous edge.
    const auto byTwo = RegionFromBitmap(Picture32(8, 3, {{1, 1}, {1, 2}, {2, 2}, {3, 2}}));
    ASSERT_TRUE(byTwo);
    EXPECT_EQ(byTwo->polygons[0], (std::vector<ShapePoint>{{1, 1}, {2, 1}, {3, 2}, {4, 2}, {3, 3}, {1, 3}, {1, 2}, {1, 1}}));
}

TEST(WindowShape, RunsThatMoveLeftAndSplitStillCoverEveryPixel) {
    // A "V" and a "U": the trace continues under the run, walks left, and leaves the second arm
    // of the U for a polygon of its own.
    Pixels painted;
    for (int y = 0; y < 6; ++y) {
        painted.insert({10 - y, y});
        painted.insert({11 - y, y});
    }
    for (int y = 8; y < 12; ++y) painted.insert({2, y}), painted.insert({6, y});
    for (int x = 2; x <= 6; ++x) painted.insert({x, 12});
    const auto r = RegionFromBitmap(Picture32(14, 14, painted));
    ASSERT_TRUE(r);
    EXPECT_EQ(Covered(*r), painted);
    EXPECT_GE(r->polygons.size(), 2u);
}

TEST(WindowShape, ThirtyTwoBitPixelsIgnoreTheTopByte) {
    ShapeBitmap b = Picture32(4, 1, {{1, 0}, {2, 0}}, 0x00FF00FF, 0x11FF00FF);  // differs only on top
    b.bits[3 * 4 + 0] = 0x01;                                                   // column 3 differs in blue
    const auto r = RegionFromBitmap(b);
    ASSERT_TRUE(r);
    EXPECT_EQ(Covered(*r), (Pixels{{3, 0}}));
}

TEST(WindowShape, MaskForEveryPixelSize) {
    struct Case {
        int bpp;
        std::vector<uint8_t> row;  // one row of four pixels, the first is the key
        std::vector<uint8_t> mask;
    };
    const std::vector<Case> cases = {
        {1, {0b0110'0000}, {0, 1, 1, 0}},
        {4, {0x3A, 0x33}, {0, 1, 0, 0}},
        {8, {7, 7, 8, 7}, {0, 0, 1, 0}},
        {16, {0x34, 0x12, 0x34, 0x13, 0x35, 0x12, 0x34, 0x12}, {0, 1, 1, 0}},
        {24, {1, 2, 3, 1, 2, 3, 1, 2, 4, 0, 2, 3}, {0, 0, 1, 1}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> mask(5, 0);
        ASSERT_EQ(BuildMask(c.row.data(), c.bpp, 1, mask.data(), 4, static_cast<int>(c.row.size()), 5), 1) << c.bpp;
        EXPECT_EQ(std::vector<uint8_t>(mask.begin(), mask.begin() + 4), c.mask) << c.bpp;
        EXPECT_EQ(mask[4], 0);
    }
    std::vector<uint8_t> mask(5, 0);
    const uint8_t row[8] = {};
    EXPECT_EQ(BuildMask(row, 2, 1, mask.data(), 4, 1, 5), 0);
    EXPECT_EQ(BuildMask(row, 15, 1, mask.data(), 4, 8, 5), 0);
}

TEST(WindowShape, UnreadableBitmapsGiveNoRegion) {
    ShapeBitmap planes = Picture32(4, 4, {{1, 1}});
    planes.nPlanes = 2;
    EXPECT_FALSE(RegionFromBitmap(planes));
    ShapeBitmap shortData = Picture32(4, 4, {{1, 1}});
    shortData.bits.pop_back();
    EXPECT_FALSE(RegionFromBitmap(shortData));
    ShapeBitmap oddSize = Picture32(4, 4, {{1, 1}});
    oddSize.nBitsPerPixel = 12;
    EXPECT_FALSE(RegionFromBitmap(oddSize));
}

TEST(WindowShape, CentringTakesHalfTheWorkAreaFromTheScreenOrigin) {
    // Work area 1000 x 700 (wherever it starts); shape spans x 10..311, y 20..121.
    EXPECT_EQ(CenteredOrigin({10, 20, 311, 121}, 1000, 700), (ShapePoint{500 - 10 - 150, 350 - 20 - 50}));
    // Odd halves truncate toward zero, including a negative result.
    EXPECT_EQ(CenteredOrigin({0, 0, 801, 3}, 101, 1), (ShapePoint{50 - 400, 0 - 1}));
}
