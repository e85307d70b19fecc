// Raster timings through the GDI calls, at the effects' sizes, on a 640 x 480 memory
// bitmap: the short one-pixel lines of the snowflakes (up to 64,512 a frame), filled
// orbs and bubbles with pens up to 25 wide (up to 2,000 ellipses a frame), the stars'
// 4 x 4 dots, and 36-point polygons (21 a frame). Each figure is per primitive
// (items_per_second), shapes drawn from a fixed seed.
#include <benchmark/benchmark.h>

#include <math.h>

#include <random>
#include <vector>

#include "visplatform.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;

struct Surface {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  Surface() {
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateBitmap(kWidth, kHeight, 1, 32, nullptr);
    old = SelectObject(dc, bitmap);
  }
  ~Surface() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
};

// Short lines of 1..12 pixels in every direction, some crossing the edges.
void BM_ShortLines(benchmark::State& state) {
  Surface s;
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
  HGDIOBJ old = SelectObject(s.dc, pen);
  std::mt19937 random(1);
  std::uniform_int_distribution<int> x(-5, kWidth + 5), y(-5, kHeight + 5), d(-12, 12);
  std::vector<POINT> ends(4096 * 2);
  for (size_t i = 0; i < ends.size(); i += 2) {
    ends[i] = {x(random), y(random)};
    ends[i + 1] = {ends[i].x + d(random), ends[i].y + d(random)};
  }
  for (auto _ : state) {
    for (size_t i = 0; i < ends.size(); i += 2) {
      MoveToEx(s.dc, ends[i].x, ends[i].y, nullptr);
      LineTo(s.dc, ends[i + 1].x, ends[i + 1].y);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(ends.size() / 2));
  SelectObject(s.dc, old);
  DeleteObject(pen);
}
BENCHMARK(BM_ShortLines);

// Filled circles of radius r with a pen r / 10 wide (the orbs: r 2..127; the bubbles
// and their satellites: pens up to 25), one brush and pen per size range.
void ellipses(benchmark::State& state, int minRadius, int maxRadius, int penDivisor) {
  Surface s;
  std::mt19937 random(2);
  std::uniform_int_distribution<int> x(0, kWidth), y(0, kHeight), r(minRadius, maxRadius);
  struct Orb {
    int x, y, r;
  };
  std::vector<Orb> orbs(512);
  for (Orb& o : orbs) o = {x(random), y(random), r(random)};
  HBRUSH brush = CreateSolidBrush(RGB(40, 90, 200));
  HGDIOBJ oldBrush = SelectObject(s.dc, brush);
  std::vector<HPEN> pens(maxRadius / penDivisor + 1);
  for (size_t w = 0; w < pens.size(); ++w) pens[w] = CreatePen(PS_SOLID, static_cast<int>(w), RGB(200, 30, 90));
  HGDIOBJ oldPen = SelectObject(s.dc, pens[0]);
  for (auto _ : state) {
    for (const Orb& o : orbs) {
      SelectObject(s.dc, pens[o.r / penDivisor]);
      Ellipse(s.dc, o.x - o.r, o.y - o.r, o.x + o.r, o.y + o.r);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(orbs.size()));
  SelectObject(s.dc, oldPen);
  SelectObject(s.dc, oldBrush);
  for (HPEN p : pens) DeleteObject(p);
  DeleteObject(brush);
}
void BM_EllipseSmall(benchmark::State& state) { ellipses(state, 2, 9, 10); }     // pen 0
void BM_EllipseOrb(benchmark::State& state) { ellipses(state, 2, 127, 10); }     // pen 0..12
void BM_EllipseBubble(benchmark::State& state) { ellipses(state, 100, 255, 10); }  // pen 10..25
void BM_EllipseStar(benchmark::State& state) { ellipses(state, 2, 2, 10); }      // 4 x 4 dots
BENCHMARK(BM_EllipseSmall);
BENCHMARK(BM_EllipseOrb);
BENCHMARK(BM_EllipseBubble);
BENCHMARK(BM_EllipseStar);

// 36-point star-like polygons around random centres, radii 0..200 from a spectrum.
void BM_Polygon36(benchmark::State& state) {
  Surface s;
  std::mt19937 random(3);
  std::uniform_int_distribution<int> x(0, kWidth), y(0, kHeight), radius(0, 200);
  std::vector<std::vector<POINT>> shapes(21, std::vector<POINT>(36));
  for (auto& shape : shapes) {
    const int cx = x(random), cy = y(random);
    for (int k = 0; k < 36; ++k) {
      const double a = k * M_PI / 18;
      const int r = radius(random);
      shape[k] = {static_cast<LONG>(cx + r * cos(a)), static_cast<LONG>(cy + r * sin(a))};
    }
  }
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 0));
  HBRUSH brush = CreateSolidBrush(RGB(255, 255, 0));
  HGDIOBJ oldPen = SelectObject(s.dc, pen), oldBrush = SelectObject(s.dc, brush);
  for (auto _ : state) {
    for (const auto& shape : shapes) Polygon(s.dc, shape.data(), 36);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(shapes.size()));
  SelectObject(s.dc, oldPen);
  SelectObject(s.dc, oldBrush);
  DeleteObject(pen);
  DeleteObject(brush);
}
BENCHMARK(BM_Polygon36);

// A whole-surface FillRect and a whole-surface BitBlt, once a frame each.
void BM_ClearAndPresent(benchmark::State& state) {
  Surface s, window;
  HBRUSH brush = CreateSolidBrush(RGB(0, 0, 64));
  RECT all = {0, 0, kWidth, kHeight};
  for (auto _ : state) {
    FillRect(s.dc, &all, brush);
    BitBlt(window.dc, 0, 0, kWidth, kHeight, s.dc, 0, 0, SRCCOPY);
  }
  state.SetItemsProcessed(state.iterations());
  DeleteObject(brush);
}
BENCHMARK(BM_ClearAndPresent);

// The widest ellipse the raster draws (box 32768) with the widest pen (16384), once
// across the surface's middle and once with only an edge of the ring crossing it:
// the work must follow the pixels the surface shows, not the size of the ring.
void hugeEllipse(benchmark::State& state, int centreX, int centreY) {
  Surface s;
  HPEN pen = CreatePen(PS_SOLID, 16384, RGB(255, 255, 255));
  HBRUSH brush = CreateSolidBrush(RGB(0, 0, 64));
  HGDIOBJ oldPen = SelectObject(s.dc, pen), oldBrush = SelectObject(s.dc, brush);
  for (auto _ : state) Ellipse(s.dc, centreX - 16384, centreY - 16384, centreX + 16384, centreY + 16384);
  state.SetItemsProcessed(state.iterations());
  SelectObject(s.dc, oldPen);
  SelectObject(s.dc, oldBrush);
  DeleteObject(pen);
  DeleteObject(brush);
}
void BM_HugeEllipseCentred(benchmark::State& state) { hugeEllipse(state, kWidth / 2, kHeight / 2); }
void BM_HugeEllipseRing(benchmark::State& state) { hugeEllipse(state, kWidth / 2 + 16384, kHeight / 2); }
BENCHMARK(BM_HugeEllipseCentred)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HugeEllipseRing)->Unit(benchmark::kMillisecond);

}  // namespace
