// Painting a list of primitives from the last to the first, each pixel written once:
// the coverage of what has been painted so far, one bit per pixel of the clip, and
// the covered forms of what deferred drawing records: filled polygons with a one-pixel
// outline.
//
// A pixel's final value is the one the last primitive covering it stores; painting in
// reverse order and skipping the pixels already covered writes exactly that value and
// leaves the pixels no primitive covers untouched. A primitive whose own parts overlap
// (a polygon's outline over its fill) is painted with its parts in reverse order too;
// parts that overlap within themselves (outline edges, all one colour) need no order.
//
// Not here: wide pens and ellipses, which deferred drawing does not record.
#pragma once

#include <stdint.h>

#include <vector>

#include "raster_internal.h"

namespace vis {
namespace raster {

class Coverage {
 public:
  // Starts over for the clip of s, nothing covered. Only rows [top, bottom) of it are
  // kept: what is painted must lie within them.
  void reset(const Surface& s, int64_t top, int64_t bottom) {
    s_ = s;
    if (top > s_.clipTop) s_.clipTop = static_cast<int>(top);
    if (bottom < s_.clipBottom) s_.clipBottom = static_cast<int>(bottom);
    if (s_.clipBottom < s_.clipTop) s_.clipBottom = s_.clipTop;
    left_ = s_.clipLeft;
    top_ = s_.clipTop;
    width_ = s_.clipRight - s_.clipLeft;
    rows_ = s_.clipBottom - s_.clipTop;
    words_ = (width_ + 63) / 64;
    bits_.assign(static_cast<size_t>(words_) * static_cast<size_t>(rows_), 0);
    open_.assign(static_cast<size_t>(rows_), width_);
    fullRows_ = 0;
  }

  // Every pixel of the clip covered: nothing later (earlier in drawing order) shows.
  bool full() const { return fullRows_ == rows_; }

  // Paints the uncovered pixels of [x0, x1) on row y (device coordinates, clipped
  // here) and covers them. Runs of uncovered pixels are stored as one fill each,
  // joined across words.
  void span(int64_t y, int64_t x0, int64_t x1, uint32_t pixel) {
    if (y < s_.clipTop || y >= s_.clipBottom) return;
    if (x0 < s_.clipLeft) x0 = s_.clipLeft;
    if (x1 > s_.clipRight) x1 = s_.clipRight;
    if (x0 >= x1) return;
    const int r = static_cast<int>(y) - top_;
    if (open_[r] == 0) return;
    uint64_t* bits = &bits_[static_cast<size_t>(r) * words_];
    uint32_t* row = s_.pixels + static_cast<ptrdiff_t>(y) * s_.stride + left_;
    const int a = static_cast<int>(x0) - left_, b = static_cast<int>(x1) - left_;
    const int firstWord = a >> 6, lastWord = (b - 1) >> 6;
    int runStart = 0, runEnd = 0, fresh = 0;
    for (int w = firstWord; w <= lastWord; ++w) {
      uint64_t mask = ~uint64_t{0};
      if (w == firstWord) mask &= ~uint64_t{0} << (a & 63);
      if (w == lastWord) mask &= ~uint64_t{0} >> (63 - ((b - 1) & 63));
      uint64_t open = ~bits[w] & mask;
      if (open == 0) continue;
      bits[w] |= open;
      fresh += __builtin_popcountll(open);
      while (open != 0) {
        const int start = __builtin_ctzll(open);
        // The run's length: the first covered bit above start (or the word's end).
        const uint64_t rest = ~(open >> start);
        const int length = rest != 0 ? __builtin_ctzll(rest) : 64;
        const int x = w * 64 + start;
        if (x == runEnd && runEnd > runStart) {
          runEnd = x + length;
        } else {
          if (runEnd > runStart) fillPixels(row + runStart, runEnd - runStart, pixel);
          runStart = x;
          runEnd = x + length;
        }
        open = start + length >= 64 ? 0 : open & (~uint64_t{0} << (start + length));
      }
    }
    if (runEnd > runStart) fillPixels(row + runStart, runEnd - runStart, pixel);
    close(r, fresh);
  }

  // The rectangle [x0, x1) x [y0, y1), clipped here.
  void box(int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t pixel) {
    if (y0 < s_.clipTop) y0 = s_.clipTop;
    if (y1 > s_.clipBottom) y1 = s_.clipBottom;
    for (int64_t y = y0; y < y1; ++y) span(y, x0, x1, pixel);
  }

  // One pixel inside the clip.
  void point(int64_t x, int64_t y, uint32_t pixel) {
    const int r = static_cast<int>(y) - top_;
    if (open_[r] == 0) return;
    const int c = static_cast<int>(x) - left_;
    uint64_t& word = bits_[static_cast<size_t>(r) * words_ + (c >> 6)];
    const uint64_t bit = uint64_t{1} << (c & 63);
    if (word & bit) return;
    word |= bit;
    s_.pixels[static_cast<ptrdiff_t>(y) * s_.stride + x] = pixel;
    close(r, 1);
  }

 private:
  void close(int r, int fresh) {
    open_[r] -= fresh;
    if (fresh != 0 && open_[r] == 0) ++fullRows_;
  }

  Surface s_ = {};
  int left_ = 0, top_ = 0, width_ = 0, rows_ = 0, words_ = 0;
  std::vector<uint64_t> bits_;  // rows_ x words_, bit c of a row is pixel left_ + c
  std::vector<int> open_;       // uncovered pixels per row
  int fullRows_ = 0;
};

// The covered forms of thinLine, fillPolygon and strokeClosed (one-pixel pens): the
// same pixels, painted through the coverage. strokeClosedCovered takes the edges in
// reverse order.
void thinLineCovered(Coverage& c, const Surface& s, int64_t x1, int64_t y1, int64_t x2,
                     int64_t y2, uint32_t pixel);
void fillPolygonCovered(Coverage& c, const Surface& s, const Point64* points, int count,
                        uint32_t pixel);
void strokeClosedCovered(Coverage& c, const Surface& s, const Point64* points, int count,
                         uint32_t pixel);

// Polygon()'s closed outline with any pen (raster_polygon.cpp).
void strokeClosed(const Surface& s, const Point64* points, int count, const RasterPen& pen);

}  // namespace raster
}  // namespace vis
