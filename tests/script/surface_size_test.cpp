#include "script/surface_size.h"

#include <gtest/gtest.h>

#include "script/parser.h"

namespace lq {
namespace {

struct ResizeCase {
  std::string line;
  int w, h;
  TSurfaceSize expected;
  std::string error;  // empty: the surface can be made
};

void PrintTo(const ResizeCase& c, std::ostream* os) { *os << c.line << " on " << c.w << "x" << c.h; }

class ResizeSize : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(ResizeSize, IsWorkedOutAndCheckedBeforeAllocating) {
  const ResizeCase& tc = GetParam();
  TScriptParseResult r = ParseScript({"", "", "", "", "", "", tc.line});
  ASSERT_TRUE(r.Ok) << r.Errors[0];
  ASSERT_EQ(r.Commands.size(), 1u);
  const TSurfaceSize size = ResizeTargetSize(r.Commands[0], tc.w, tc.h);
  EXPECT_EQ(size, tc.expected) << tc.line << " -> " << size.Width << "x" << size.Height;
  EXPECT_EQ(SurfaceSizeError(r.Commands[0].LineNumber, size), tc.error) << tc.line;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResizeSize,
    ::testing::Values(
        // Round half to even: 1.5 -> 2.
        ResizeCase{"RESIZE 50% 50%", 3, 3, {2, 2}, ""},
        ResizeCase{"RESIZE 0.1% 0.1%", 400, 300, {1, 1}, ""},
        ResizeCase{"RESIZE 0.4 10", 400, 300, {0, 10}, "Line 7: Could not create 0x10 surface"},
        ResizeCase{"RESIZE 1920 1080", 3, 3, {1920, 1080}, ""},
        ResizeCase{"RESIZE 2,5 200%", 10, 7, {2, 14}, ""},
        // The engine indexes pixels with 32-bit integers: 46341 squared is past the limit.
        ResizeCase{"RESIZE 46340 46340", 1, 1, {46340, 46340}, ""},
        ResizeCase{"RESIZE 46341 46341", 1, 1, {46341, 46341}, "Line 7: Could not create 46341x46341 surface"},
        ResizeCase{"RESIZE 3000000000 1", 1, 1, {3000000000, 1}, "Line 7: Could not create 3000000000x1 surface"},
        ResizeCase{"RESIZE 100000% 100000%", 4000, 3000, {4000000, 3000000},
                   "Line 7: Could not create 4000000x3000000 surface"},
        ResizeCase{"RESIZE 1e38 1e38", 1, 1, {INT64_MAX, INT64_MAX},
                   "Line 7: Could not create 9223372036854775807x9223372036854775807 surface"}));

TEST(FrameSizes, MarginsAndBordersAreAddedIn64Bits) {
  // A 300 x 300 frame with 50-pixel borders around a 400 x 300 picture and a 20-pixel margin.
  EXPECT_EQ(ImageFrameSize(400, 300, 20, 50, 50, 50, 50), (TSurfaceSize{540, 440}));
  EXPECT_EQ(ImageFrameSize(400, 300, 0, 0, 0, 0, 0), (TSurfaceSize{400, 300}));
  EXPECT_EQ(BrushFrameSize(100, 50, 30), (TSurfaceSize{160, 110}));
  EXPECT_EQ(BrushFrameSize(100, 50, 0), (TSurfaceSize{100, 50}));

  const TSurfaceSize hugeMargin = ImageFrameSize(400, 300, INT32_MAX, 50, 50, 50, 50);
  EXPECT_EQ(hugeMargin.Width, 2 * int64_t(INT32_MAX) + 500);
  EXPECT_EQ(SurfaceSizeError(4, hugeMargin), "Line 4: Could not create 4294967794x4294967694 surface");
  EXPECT_EQ(SurfaceSizeError(9, BrushFrameSize(100, 50, 2000000000)),
            "Line 9: Could not create 4000000100x4000000050 surface");
  EXPECT_EQ(SurfaceSizeError(9, BrushFrameSize(100, 50, 60)), "");
  // Absurd inputs still give a size the check refuses, never an overflow.
  EXPECT_NE(SurfaceSizeError(1, BrushFrameSize(1, 1, INT64_MAX)), "");
  EXPECT_NE(SurfaceSizeError(1, ImageFrameSize(1, 1, INT64_MIN, 0, 0, 0, 0)), "");
}

}  // namespace
}  // namespace lq
