// Pixel dumps and their comparison: the dump files the GDI replayer writes (and that the
// parity tests write of our own raster), a pixel-by-pixel diff that names the first
// differing pixels, and a PNG that marks every differing pixel.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace visdiff {

// One dumped block: 0x00RRGGBB, rows top-down, stride == width.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// "VISDUMP1", then per image int32 width, int32 height, width*height uint32 pixels.
bool readDumpFile(const std::string& path, std::vector<Image>* images, std::string* error);
bool writeDumpFile(const std::string& path, const std::vector<Image>& images, std::string* error);

struct PixelDiff {
  int x;
  int y;
  uint32_t expected;  // the oracle's pixel
  uint32_t actual;    // ours
};
struct Diff {
  long count = 0;               // differing pixels; -1 when the sizes differ
  std::vector<PixelDiff> first;  // the first few, in row order
};

Diff diffImages(const Image& expected, const Image& actual, size_t keep = 8);

// "(x, y) oracle 0x.. ours 0x.." lines for the first differences.
std::string describe(const Diff& diff);

// Writes the oracle's image with every differing pixel in magenta (0xff00ff) and every
// other pixel dimmed to a quarter, so that differences stand out. Written through a
// temporary file, so a failed write leaves no PNG behind.
bool writeDiffPng(const std::string& path, const Image& expected, const Image& actual,
                  std::string* error);

}  // namespace visdiff
