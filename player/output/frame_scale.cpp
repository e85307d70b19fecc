// Scaling a drawn frame up by a whole factor, a band of output rows per drawn row. See
// frame_scale.h for the geometry.
#include "output/frame_scale.h"

#include <string.h>

#include <algorithm>

int autoScaleFactor(int width, int height) {
  int shorter = std::min(width, height);
  return std::max(1, std::min((int)SCALE_MAX, shorter / CLASSIC_HEIGHT));
}

int resolveScaleFactor(int chosen, int width, int height) {
  if (chosen == SCALE_AUTO) return autoScaleFactor(width, height);
  return std::max(1, std::min((int)SCALE_MAX, chosen));
}

void drawingSizeFor(int width, int height, int factor, int* drawWidth, int* drawHeight) {
  *drawWidth = (width + factor - 1) / factor;
  *drawHeight = (height + factor - 1) / factor;
}

FrameSizes frameSizesFor(int width, int height, int chosen) {
  FrameSizes s;
  s.width = width > 0 ? width : CLASSIC_WIDTH;
  s.height = height > 0 ? height : CLASSIC_HEIGHT;
  s.factor = resolveScaleFactor(chosen, s.width, s.height);
  drawingSizeFor(s.width, s.height, s.factor, &s.drawWidth, &s.drawHeight);
  return s;
}

namespace {
// Along one axis of the output, index i samples the drawing at
// s = (i + 0.5) / N - 0.5 = (2i + 1 - N) / 2N. With num = 2i + 1 - N, the drawn pixel at
// or below s is floor(num / 2N) and the next one's weight is what is left, in 2N-ths.
// Indexes outside the drawing are clamped: the edge pixel repeated.
void smoothTap(int i, int factor, int length, int* low, int* high, int* weight) {
  const int twice = 2 * factor;
  const int num = 2 * i + 1 - factor;
  int below = num >= 0 ? num / twice : -((-num + twice - 1) / twice);
  *weight = num - below * twice;
  *low = std::max(0, std::min(length - 1, below));
  *high = std::max(0, std::min(length - 1, below + 1));
}
}  // namespace

void FrameScaler::setUp(int width, int height, int factor, ScaleFilter filter) {
  width_ = width;
  height_ = height;
  factor_ = std::max(1, factor);
  filter_ = filter;
  band_.assign((size_t)width * factor_, 0);
  bandHeld_ = -1;
  left_.clear();
  right_.clear();
  weightX_.clear();
  if (factor_ > 1 && filter_ == ScaleFilter::Smooth) {
    int drawWidth, drawHeight;
    drawingSizeFor(width, height, factor_, &drawWidth, &drawHeight);
    left_.resize((size_t)width);
    right_.resize((size_t)width);
    weightX_.resize((size_t)width);
    for (int x = 0; x < width; ++x) smoothTap(x, factor_, drawWidth, &left_[x], &right_[x], &weightX_[x]);
    column_.assign((size_t)drawWidth, 0);
    // floor(v / D^2) as (v * ceil(2^48 / D^2)) >> 48: exact while v stays below 2^48 / D^2
    // (v is at most 256 D^2 here, D = 2N <= 64).
    const uint64_t square = (uint64_t)(2 * factor_) * (uint64_t)(2 * factor_);
    reciprocal_ = (((uint64_t)1 << 48) + square - 1) / square;
  }
}

void FrameScaler::nearestRow(const uint32_t* in, uint32_t* out) const {
  const int n = factor_;
  const int whole = width_ / n;
  for (int x = 0; x < whole; ++x) {
    const uint32_t c = in[x];
    for (int k = 0; k < n; ++k) *out++ = c;
  }
  for (int k = whole * n; k < width_; ++k) *out++ = in[whole];
}

namespace {
// The three channels of 0x00RRGGBB spread over 21-bit lanes of one 64-bit word, so that
// one multiply weighs all three: a lane holds at most 255 (2N)^2 + (2N)^2 / 2 < 2^21.
inline uint64_t spread(uint32_t c) {
  return ((uint64_t)(c >> 16 & 0xFF) << 42) | ((uint64_t)(c >> 8 & 0xFF) << 21) | (c & 0xFF);
}
constexpr uint64_t kLane = (1u << 21) - 1;
}  // namespace

void FrameScaler::smoothRow(const FrameView& drawn, int y, uint32_t* out) const {
  const int twice = 2 * factor_;
  const int drawWidth = (width_ + factor_ - 1) / factor_;
  int top, bottom, wy;
  smoothTap(y, factor_, std::min(drawn.height, (height_ + factor_ - 1) / factor_), &top, &bottom, &wy);
  const uint32_t* a = drawn.pixels + (size_t)top * drawn.stride;
  const uint32_t* b = drawn.pixels + (size_t)bottom * drawn.stride;
  // The two drawn rows weighed together first (in 2N-ths), then each output pixel from
  // two of those columns (in (2N)^2-ths in all), rounded and divided lane by lane.
  for (int x = 0; x < drawWidth; ++x) {
    column_[x] = spread(a[x]) * (uint64_t)(twice - wy) + spread(b[x]) * (uint64_t)wy;
  }
  const uint64_t half = (uint64_t)(twice * twice / 2);
  const uint64_t halves = (half << 42) | (half << 21) | half;
  for (int x = 0; x < width_; ++x) {
    const uint64_t v = column_[left_[x]] * (uint64_t)(twice - weightX_[x]) +
                       column_[right_[x]] * (uint64_t)weightX_[x] + halves;
    out[x] = (uint32_t)((((v >> 42) & kLane) * reciprocal_) >> 48) << 16 |
             (uint32_t)((((v >> 21) & kLane) * reciprocal_) >> 48) << 8 |
             (uint32_t)(((v & kLane) * reciprocal_) >> 48);
  }
}

void FrameScaler::fillBand(const FrameView& drawn, int band, uint32_t* out, int stride) {
  const int first = band * factor_;
  const int rows = std::min(factor_, height_ - first);
  if (factor_ == 1) {
    // As drawn: cropped or padded with black where the sizes differ.
    memset(out, 0, (size_t)width_ * 4);
    if (band < drawn.height) {
      memcpy(out, drawn.pixels + (size_t)band * drawn.stride,
             (size_t)std::min(width_, drawn.width) * 4);
    }
    return;
  }
  if (filter_ == ScaleFilter::Smooth && drawn.width >= (width_ + factor_ - 1) / factor_) {
    for (int k = 0; k < rows; ++k) smoothRow(drawn, first + k, out + (size_t)k * stride);
    return;
  }
  const int source = std::min(band, drawn.height - 1);
  if (source < 0 || drawn.width < (width_ + factor_ - 1) / factor_) {
    for (int k = 0; k < rows; ++k) memset(out + (size_t)k * stride, 0, (size_t)width_ * 4);
    return;
  }
  nearestRow(drawn.pixels + (size_t)source * drawn.stride, out);
  for (int k = 1; k < rows; ++k) memcpy(out + (size_t)k * stride, out, (size_t)width_ * 4);
}

const uint32_t* FrameScaler::rows(const FrameView& drawn, int y, int* count) {
  if (factor_ == 1 && drawn.width == width_ && drawn.height == height_) {
    *count = drawn.stride == width_ ? height_ - y : 1;
    return drawn.pixels + (size_t)y * drawn.stride;
  }
  const int band = y / factor_;
  // Rows are read from the top: row 0 starts a new frame.
  if (y == 0 || band != bandHeld_) {
    fillBand(drawn, band, band_.data(), width_);
    bandHeld_ = band;
  }
  const int inBand = y - band * factor_;
  *count = std::min(factor_, height_ - band * factor_) - inBand;
  return band_.data() + (size_t)inBand * width_;
}

void FrameScaler::scaleInto(const FrameView& drawn, uint32_t* out, int stride) {
  const int bands = (height_ + factor_ - 1) / factor_;
  for (int band = 0; band < bands; ++band) {
    fillBand(drawn, band, out + (size_t)band * factor_ * stride, stride);
  }
}
