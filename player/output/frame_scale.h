// Drawing small and showing big: the plug-in draws its frame at the output's size divided
// by a whole factor N, and the frame is scaled up to the output on its way out, row band
// by row band, so that neither the drawing nor the scaling ever holds a frame of the
// output's size. The effects size their shapes in pixels: at 3840x2160 a frame drawn at
// full size is a few specks on a dark field, drawn at 960x540 and scaled by 4 it looks
// as it does at 640x480.
//
// The geometry: the drawing is ceil(W / N) x ceil(H / N); output pixel (x, y) samples the
// drawing at ((x + 0.5) / N - 0.5, (y + 0.5) / N - 0.5), pixel centres to pixel centres.
// Nearest takes the drawn pixel (x / N, y / N): every drawn pixel becomes an N x N
// block, the classic pixel look. Smooth interpolates bilinearly between the four drawn
// pixels around that point (the edge pixels repeated beyond the edge), rounded to
// nearest from the exact value, so it is the same on every machine. What the drawing
// has beyond W or H (less than one drawn pixel) is cropped at the right and bottom.
//
// Nothing here knows the plug-in, SDL or files: frames in, rows out.
#pragma once

#include <stdint.h>

#include <vector>

#include "output/frame_view.h"
#include "output/scale_choice.h"  // ScaleFilter, SCALE_AUTO
// The plug-in's own frame, the size its effects were made for; auto keeps drawings at
// least this tall (or wide, for a portrait output).
enum { CLASSIC_WIDTH = 640, CLASSIC_HEIGHT = 480 };

// The factor auto picks: the largest whole N that keeps the drawing's shorter side at
// least 480 pixels, so 1 up to and beyond 1280x720, 2 for 1920x1080, 4 for 3840x2160.
int autoScaleFactor(int width, int height);
// `chosen` (SCALE_AUTO or 1..SCALE_MAX) for an output of width x height.
int resolveScaleFactor(int chosen, int width, int height);
// The drawing for an output of width x height at factor N: ceil(width / N) x ceil(height / N).
void drawingSizeFor(int width, int height, int factor, int* drawWidth, int* drawHeight);

// The sizes of one picture: the output (--size, or the plug-in's own 640x480), the
// factor `chosen` resolves to there, and the drawing.
struct FrameSizes {
  int width, height, factor, drawWidth, drawHeight;
};
FrameSizes frameSizesFor(int width, int height, int chosen);

class FrameScaler {
 public:
  FrameScaler() = default;
  // Output width x height at `factor` (1: frames pass as drawn, cropped or padded with
  // black when their size differs).
  void setUp(int width, int height, int factor, ScaleFilter filter);
  int width() const { return width_; }
  int height() const { return height_; }
  int factor() const { return factor_; }
  // Output row y of the drawn frame, and in *count how many output rows from it lie one
  // after another in memory (`width()` pixels apart; for a factor of 1 and a frame of
  // the output's size, its own stride apart when *count is 1). Rows are read from 0 up;
  // the pointer holds until the next call.
  const uint32_t* rows(const FrameView& drawn, int y, int* count);
  // The whole output frame into out (stride in pixels), for a window's surface.
  void scaleInto(const FrameView& drawn, uint32_t* out, int stride);

 private:
  // Output rows [band * factor, ...) (at most factor of them, fewer at the bottom).
  void fillBand(const FrameView& drawn, int band, uint32_t* out, int stride);
  void nearestRow(const uint32_t* in, uint32_t* out) const;
  void smoothRow(const FrameView& drawn, int y, uint32_t* out) const;

  int width_ = 0, height_ = 0, factor_ = 1;
  ScaleFilter filter_ = ScaleFilter::Nearest;
  std::vector<uint32_t> band_;  // factor_ output rows
  int bandHeld_ = -1;           // which band band_ holds for the frame being read
  // Smooth: per output column, the two drawn pixels and the second one's weight in
  // 2N-ths; the exact sum is divided by (2N)^2 with a reciprocal.
  std::vector<int> left_, right_, weightX_;
  mutable std::vector<uint64_t> column_;  // one drawn row pair weighed together
  uint64_t reciprocal_ = 0;
};
