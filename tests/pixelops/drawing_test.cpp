#include "vellum/pixelops/drawing.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_images.h"
#include "vellum/core/entry_frame.h"
#include "vellum/pixelops/gradients.h"

namespace vellum {
namespace {

using testing_support::TestImage;
using testing_support::UniformImage;
using Bytes = std::vector<uint8_t>;
using Points = std::set<std::pair<uint32_t, uint32_t>>;

constexpr COLORREF kRed = 0x0000FF;

// The pixels that differ from the black background.
Points Painted(const TestImage& image) {
  Points points;
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) {
      const uint8_t* p = image.At(x, y);
      if (std::any_of(p, p + image.pixelBytes, [](uint8_t b) { return b != 0; }))
        points.insert({x, y});
    }
  }
  return points;
}

// A picture of painted pixels, one text line per row, for readable failures.
std::string Picture(const TestImage& image) {
  const Points points = Painted(image);
  std::string text;
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) text += points.count({x, y}) ? '#' : '.';
    text += '\n';
  }
  return text;
}

TEST(Line, BresenhamPointsAndClipping) {
  TestImage image = UniformImage(6, 4, 0);
  ASSERT_TRUE(DrawLine(image.bytes.data(), 6, 4, 3, kRed, 0, 0, 4, 2, 0));
  EXPECT_EQ(Painted(image), (Points{{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}));
  EXPECT_EQ(Bytes(image.At(2, 1), image.At(2, 1) + 3), (Bytes{0xFF, 0, 0}));
  // Ending at x = width: every point but that one.
  image = UniformImage(4, 1, 0);
  ASSERT_TRUE(DrawLine(image.bytes.data(), 4, 1, 3, kRed, 0, 0, 4, 0, 0));
  EXPECT_EQ(Painted(image).size(), 4u);
  // A point, a steep line drawn backwards and the diagonal (y-major on a tie).
  image = UniformImage(5, 5, 0);
  ASSERT_TRUE(DrawLine(image.bytes.data(), 5, 5, 3, kRed, 2, 2, 2, 2, 0));
  EXPECT_EQ(Painted(image), (Points{{2, 2}}));
  image = UniformImage(5, 5, 0);
  ASSERT_TRUE(DrawLine(image.bytes.data(), 5, 5, 3, kRed, 1, 4, 0, 0, 0));
  EXPECT_EQ(Painted(image), (Points{{1, 4}, {1, 3}, {0, 2}, {0, 1}, {0, 0}}));
  image = UniformImage(3, 3, 0, 1);
  ASSERT_TRUE(DrawLine(image.bytes.data(), 3, 3, 1, 0x07, 0, 0, 2, 2, 0));
  EXPECT_EQ(image.bytes, (Bytes{7, 0, 0, 0, 7, 0, 0, 0, 7}));
  EXPECT_FALSE(DrawLine(image.bytes.data(), 3, 3, 5, kRed, 0, 0, 1, 1, 0));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
  EXPECT_FALSE(DrawLine(nullptr, 3, 3, 3, kRed, 0, 0, 1, 1, 0));
}

TEST(Ellipse, OutlineShapes) {
  // Radii 3 and 2: region 1 steps to (1, 2), (2, 1), (3, 1); the one step of
  // region 2 still moves x, to (4, 0).
  TestImage image = UniformImage(9, 7, 0);
  ASSERT_TRUE(DrawEllipse(image.bytes.data(), 9, 7, 3, kRed, 4, 3, 3, 2));
  EXPECT_EQ(Picture(image),
            ".........\n"
            "...###...\n"
            ".##...##.\n"
            "#.......#\n"
            ".##...##.\n"
            "...###...\n"
            ".........\n");
  // Horizontal radius 0: the two points (cx, cy +- b); vertical radius 0: the centre.
  image = UniformImage(5, 5, 0);
  ASSERT_TRUE(DrawEllipse(image.bytes.data(), 5, 5, 3, kRed, 2, 2, 0, 2));
  EXPECT_EQ(Painted(image), (Points{{2, 0}, {2, 4}}));
  image = UniformImage(5, 5, 0);
  ASSERT_TRUE(DrawEllipse(image.bytes.data(), 5, 5, 3, kRed, 2, 2, 2, 0));
  EXPECT_EQ(Painted(image), (Points{{2, 2}}));
  // Centred on a corner: exactly the quarter that a whole drawing has there.
  image = UniformImage(5, 5, 0);
  ASSERT_TRUE(DrawEllipse(image.bytes.data(), 5, 5, 3, kRed, 0, 0, 3, 3));
  TestImage whole = UniformImage(10, 10, 0);
  ASSERT_TRUE(DrawEllipse(whole.bytes.data(), 10, 10, 3, kRed, 5, 5, 3, 3));
  Points quarter;
  for (const auto& [x, y] : Painted(whole)) {
    if (x >= 5 && y >= 5) quarter.insert({x - 5, y - 5});
  }
  EXPECT_EQ(Painted(image), quarter);
  EXPECT_FALSE(DrawEllipse(image.bytes.data(), 5, 5, 3, kRed, 2, 2, kMaxEllipseRadius + 1, 2));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

TEST(Ellipse, FilledSpansClampToTheBorder) {
  TestImage image = UniformImage(9, 7, 0);
  ASSERT_TRUE(FillEllipse(image.bytes.data(), 9, 7, 3, kRed, 4, 3, 3, 2));
  EXPECT_EQ(Picture(image),
            ".........\n"
            "...###...\n"
            ".#######.\n"
            "#########\n"
            ".#######.\n"
            "...###...\n"
            ".........\n");
  // Centred on the corner: the parts above and left of the image land on row 0
  // and column 0.
  image = UniformImage(6, 5, 0);
  ASSERT_TRUE(FillEllipse(image.bytes.data(), 6, 5, 3, kRed, 0, 0, 4, 3));
  EXPECT_EQ(Picture(image),
            "######\n"
            "#####.\n"
            "####..\n"
            "###...\n"
            "......\n");
  // Nothing for a zero horizontal radius or a vertical radius of 0 or less.
  image = UniformImage(5, 5, 0);
  for (const auto& [rx, ry] : {std::pair{0, 2}, {2, 0}, {2, -3}}) {
    ASSERT_TRUE(FillEllipse(image.bytes.data(), 5, 5, 3, kRed, 2, 2, rx, ry));
  }
  EXPECT_TRUE(Painted(image).empty());
}

TEST(Ellipse, LargeRadiiStayInsideTheImage) {
  TestImage image = UniformImage(40, 30, 0);
  ASSERT_TRUE(DrawEllipse(image.bytes.data(), 40, 30, 3, kRed, 20, 15, kMaxEllipseRadius, 900));
  ASSERT_TRUE(FillEllipse(image.bytes.data(), 40, 30, 3, kRed, 20, 15, 70000, 100000));
  EXPECT_EQ(Painted(image).size(), 40u * 30u);
}

TEST(Rectangle, FillsAndClips) {
  TestImage image = UniformImage(4, 3, 0);
  ASSERT_TRUE(FillRectangle(image.bytes.data(), 4, 3, 1, 1, 10, 1, 0x030201));
  EXPECT_EQ(Picture(image), "....\n.###\n....\n");
  EXPECT_EQ(Bytes(image.At(3, 1), image.At(3, 1) + 3), (Bytes{1, 2, 3}));
  ASSERT_TRUE(FillRectangle(image.bytes.data(), 4, 3, 4, 0, 1, 1, kRed));  // at the edge
  EXPECT_EQ(Picture(image), "....\n.###\n....\n");
  // A gray over the whole image gives the same bytes as a per-pixel colour would.
  ASSERT_TRUE(FillRectangle(image.bytes.data(), 4, 3, 0, 0, 4, 3, 0x404040));
  EXPECT_EQ(image.bytes, UniformImage(4, 3, 0x40).bytes);
  EXPECT_FALSE(FillRectangle(nullptr, 4, 3, 0, 0, 1, 1, 0));
  EXPECT_EQ(CoreLastError(), kErrInvalidArgument);
}

Bytes Row(const TestImage& image, uint32_t y, int ch) {
  Bytes values;
  for (uint32_t x = 0; x < image.width; ++x) values.push_back(image.At(x, y)[ch]);
  return values;
}

TEST(Gradient, OneWayStopsAStepShort) {
  TestImage image = UniformImage(256, 2, 0);
  ASSERT_TRUE(FillGradient(image.bytes.data(), 256, 2, 0, 0xFFFFFF, kHorizontalGradient));
  for (int ch = 0; ch < 3; ++ch) {
    const Bytes row = Row(image, 1, ch);
    EXPECT_EQ(row[0], 0);
    EXPECT_EQ(row[1], 0);
    EXPECT_EQ(row[128], 127);
    EXPECT_EQ(row[255], 254);
  }
  EXPECT_EQ(Row(image, 0, 0), Row(image, 1, 2));
  image = UniformImage(1, 4, 0);
  ASSERT_TRUE(FillGradient(image.bytes.data(), 1, 4, 0x0000C8, 0x000000, kVerticalGradient));
  EXPECT_EQ(image.bytes, (Bytes{200, 0, 0, 150, 0, 0, 100, 0, 0, 50, 0, 0}));
  image = UniformImage(3, 2, 0);
  ASSERT_TRUE(FillGradient(image.bytes.data(), 3, 2, 0xFFFFFF, 0, 2));
  EXPECT_EQ(image.bytes, UniformImage(3, 2, 0).bytes);
}

TEST(Gradient, TwoWayTurnsAtTheMiddle) {
  TestImage image = UniformImage(4, 1, 0);
  ASSERT_TRUE(FillTwoWayGradient(image.bytes.data(), 4, 1, 0, 0x00FF00, kHorizontalGradient));
  EXPECT_EQ(Row(image, 0, 1), (Bytes{0, 127, 255, 127}));
  EXPECT_EQ(Row(image, 0, 0), (Bytes{0, 0, 0, 0}));
  image = UniformImage(2, 5, 0);
  ASSERT_TRUE(FillTwoWayGradient(image.bytes.data(), 2, 5, 0x000064, 0x0000C8, kVerticalGradient));
  for (uint32_t y = 0; y < 5; ++y) EXPECT_EQ(*image.At(1, y), (Bytes{100, 150, 200, 150, 100})[y]);
  // One column: no step is ever taken (half = 0).
  image = UniformImage(1, 1, 0);
  ASSERT_TRUE(FillTwoWayGradient(image.bytes.data(), 1, 1, 0x123456, 0, kHorizontalGradient));
  EXPECT_EQ(image.bytes, (Bytes{0x56, 0x34, 0x12}));
  EXPECT_FALSE(FillGradient(nullptr, 1, 1, 0, 0, 0));
}

}  // namespace
}  // namespace vellum
