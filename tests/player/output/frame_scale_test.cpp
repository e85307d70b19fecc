// Scaling the drawing up to the output: the factor auto picks, the drawing's size, and
// the pixels of both filters against values worked out here in another way (nearest
// from the block rule; smooth from pixel centres in floating point).
#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <vector>

#include "output/frame_scale.h"

TEST(Scale, FactorsAndDrawingSizes) {
  // output (0: the plug-in's own size), --scale (0: auto), factor, drawing
  const struct { int w, h, chosen, factor, dw, dh; const char* note; } cases[] = {
      {0, 0, SCALE_AUTO, 1, 640, 480, "no --size: the plug-in's own frame, as drawn"},
      {640, 480, SCALE_AUTO, 1, 640, 480, ""},
      {1280, 720, SCALE_AUTO, 1, 1280, 720, "up to 1280x720 auto draws at full size"},
      {1366, 768, SCALE_AUTO, 1, 1366, 768, "768 / 2 would fall below 480"},
      {1920, 1080, SCALE_AUTO, 2, 960, 540, ""},
      {2560, 1440, SCALE_AUTO, 3, 854, 480, "853.3 rounded up: the last block cropped"},
      {3840, 2160, SCALE_AUTO, 4, 960, 540, ""},
      {1080, 1920, SCALE_AUTO, 2, 540, 960, "portrait: the shorter side counts"},
      {8192, 8192, SCALE_AUTO, 17, 482, 482, "the largest output"},
      {3840, 480, SCALE_AUTO, 1, 3840, 480, "a strip stays as drawn"},
      {1920, 1080, 1, 1, 1920, 1080, "--scale 1: full size"},
      {1921, 1081, 2, 2, 961, 541, "odd sides: rounded up"},
      {0, 0, 2, 2, 320, 240, "--scale 2 without --size: 640x480 from 320x240"},
      {5, 3, 32, 32, 1, 1, "the largest factor on a tiny output"},
  };
  for (const auto& c : cases) {
    FrameSizes s = frameSizesFor(c.w, c.h, c.chosen);
    EXPECT_EQ(s.factor, c.factor) << c.w << "x" << c.h << " " << c.note;
    EXPECT_EQ(s.drawWidth, c.dw) << c.w << "x" << c.h << " " << c.note;
    EXPECT_EQ(s.drawHeight, c.dh) << c.w << "x" << c.h << " " << c.note;
  }
}

namespace {
constexpr uint32_t kMarker = 0xDEADBEEF;  // never a pixel of a frame (top byte set)

uint32_t channel(uint32_t c, int shift) { return (c >> shift) & 0xFF; }

// The expected smooth pixel, from pixel centres in floating point: output x samples the
// drawing at (x + 0.5) / N - 0.5, the edge pixels repeated outside. Exact halves (the
// value is a whole number of (2N)^2-ths, so a half is at least 1/(2N)^2 from any other
// value) round up.
uint32_t smoothOracle(const std::vector<uint32_t>& src, int dw, int dh, int n, int x, int y) {
  double sx = (x + 0.5) / n - 0.5, sy = (y + 0.5) / n - 0.5;
  int x0 = (int)floor(sx), y0 = (int)floor(sy);
  double fx = sx - x0, fy = sy - y0;
  auto at = [&](int px, int py) {
    return src[(size_t)std::max(0, std::min(dh - 1, py)) * dw + std::max(0, std::min(dw - 1, px))];
  };
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    double v = (1 - fx) * (1 - fy) * channel(at(x0, y0), shift) +
               fx * (1 - fy) * channel(at(x0 + 1, y0), shift) +
               (1 - fx) * fy * channel(at(x0, y0 + 1), shift) +
               fx * fy * channel(at(x0 + 1, y0 + 1), shift);
    out |= (uint32_t)floor(v + 0.5 + 1e-9) << shift;
  }
  return out;
}
}  // namespace

TEST(Scale, NearestMakesBlocksAndSmoothInterpolatesFromPixelCentres) {
  // drawing, factor, output (a side below drawing x factor: the last block cropped)
  const struct { int dw, dh, n, w, h; const char* note; } cases[] = {
      {7, 5, 1, 7, 5, "as drawn"},
      {7, 5, 2, 14, 10, "whole blocks"},
      {7, 5, 3, 20, 13, "cropped right and bottom"},
      {4, 3, 4, 16, 12, ""},
      {5, 4, 5, 21, 16, "one column of the last block"},
      {3, 2, 32, 96, 64, "the largest factor"},
  };
  for (ScaleFilter filter : {ScaleFilter::Nearest, ScaleFilter::Smooth}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(filter == ScaleFilter::Smooth ? "smooth " : "nearest ") + c.note +
                   " " + std::to_string(c.n));
      // A drawing of distinct colours with steep steps, at a stride wider than it.
      const int stride = c.dw + 3;
      std::vector<uint32_t> src((size_t)stride * c.dh, kMarker), packed;
      uint32_t state = 12345;
      for (int y = 0; y < c.dh; ++y) {
        for (int x = 0; x < c.dw; ++x) {
          state = state * 1103515245u + 12345u;
          src[(size_t)y * stride + x] = (state >> 8) & 0xFFFFFF;
          packed.push_back(src[(size_t)y * stride + x]);
        }
      }
      FrameView drawn{src.data(), c.dw, c.dh, stride};
      FrameScaler scaler;
      scaler.setUp(c.w, c.h, c.n, filter);
      // The whole frame into a wider buffer on a marker: nothing beyond the output's width.
      const int outStride = c.w + 2;
      std::vector<uint32_t> whole((size_t)outStride * c.h, kMarker);
      scaler.scaleInto(drawn, whole.data(), outStride);
      int wrong = 0;
      for (int y = 0, count = 0; y < c.h; y += count) {
        const uint32_t* rows = scaler.rows(drawn, y, &count);
        ASSERT_GE(count, 1);
        ASSERT_LE(y + count, c.h);
        const int rowStride = c.n == 1 ? stride : c.w;
        for (int k = 0; k < count; ++k) {
          for (int x = 0; x < c.w; ++x) {
            const int oy = y + k;
            uint32_t expected = filter == ScaleFilter::Nearest || c.n == 1
                                    ? src[(size_t)(oy / c.n) * stride + x / c.n]
                                    : smoothOracle(packed, c.dw, c.dh, c.n, x, oy);
            wrong += rows[(size_t)k * rowStride + x] != expected;
            wrong += whole[(size_t)oy * outStride + x] != expected;
          }
          EXPECT_EQ(whole[(size_t)(y + k) * outStride + c.w], kMarker);
          EXPECT_EQ(whole[(size_t)(y + k) * outStride + c.w + 1], kMarker);
        }
      }
      EXPECT_EQ(wrong, 0);
    }
  }
  // Smooth between two drawn pixels, worked by hand at N = 2: output pixels 1 and 2 lie
  // a quarter of the way from one centre to the next, so 0 and 200 give 50 and 150.
  uint32_t pair[2] = {0x000000, 0xC8C8C8};
  FrameScaler scaler;
  scaler.setUp(4, 1, 2, ScaleFilter::Smooth);
  int count;
  const uint32_t* row = scaler.rows(FrameView{pair, 2, 1, 2}, 0, &count);
  EXPECT_EQ(std::vector<uint32_t>(row, row + 4),
            (std::vector<uint32_t>{0x000000, 0x323232, 0x969696, 0xC8C8C8}));
}
