// Dump files, pixel diffs and diff PNGs for the Wine parity tests (see visdiff.h).
#include "visdiff.h"

#include <png.h>  // libpng: the diff image
#include <stdio.h>

namespace visdiff {

bool readDumpFile(const std::string& path, std::vector<Image>* images, std::string* error) {
  images->clear();
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open " + path;
    return false;
  }
  char magic[8];
  bool ok = fread(magic, 1, 8, f) == 8 && std::string(magic, 8) == "VISDUMP1";
  if (!ok) *error = path + ": not a pixel dump (no VISDUMP1 header)";
  while (ok) {
    int32_t size[2];
    const size_t got = fread(size, 4, 2, f);
    if (got == 0 && feof(f)) break;
    if (got != 2 || size[0] <= 0 || size[1] <= 0 || size[0] > 16384 || size[1] > 16384) {
      *error = path + ": bad image header";
      ok = false;
      break;
    }
    Image image;
    image.width = size[0];
    image.height = size[1];
    image.pixels.resize(static_cast<size_t>(size[0]) * size[1]);
    if (fread(image.pixels.data(), 4, image.pixels.size(), f) != image.pixels.size()) {
      *error = path + ": truncated image";
      ok = false;
      break;
    }
    images->push_back(std::move(image));
  }
  fclose(f);
  return ok;
}

bool writeDumpFile(const std::string& path, const std::vector<Image>& images, std::string* error) {
  const std::string part = path + ".part";
  FILE* f = fopen(part.c_str(), "wb");
  if (!f) {
    *error = "cannot write " + part;
    return false;
  }
  bool ok = fwrite("VISDUMP1", 1, 8, f) == 8;
  for (const Image& image : images) {
    const int32_t size[2] = {image.width, image.height};
    ok = ok && fwrite(size, 4, 2, f) == 2 &&
         fwrite(image.pixels.data(), 4, image.pixels.size(), f) == image.pixels.size();
  }
  ok = (fclose(f) == 0) && ok;
  if (!ok || rename(part.c_str(), path.c_str()) != 0) {
    remove(part.c_str());
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

Diff diffImages(const Image& expected, const Image& actual, size_t keep) {
  Diff diff;
  if (expected.width != actual.width || expected.height != actual.height) {
    diff.count = -1;
    return diff;
  }
  for (int y = 0; y < expected.height; ++y) {
    for (int x = 0; x < expected.width; ++x) {
      const uint32_t e = expected.at(x, y), a = actual.at(x, y);
      if (e == a) continue;
      ++diff.count;
      if (diff.first.size() < keep) diff.first.push_back({x, y, e, a});
    }
  }
  return diff;
}

std::string describe(const Diff& diff) {
  if (diff.count < 0) return "image sizes differ\n";
  std::string text;
  char line[96];
  for (const PixelDiff& d : diff.first) {
    snprintf(line, sizeof line, "  (%d, %d) oracle 0x%06x ours 0x%06x\n", d.x, d.y, d.expected,
             d.actual);
    text += line;
  }
  return text;
}

bool writeDiffPng(const std::string& path, const Image& expected, const Image& actual,
                  std::string* error) {
  if (expected.width != actual.width || expected.height != actual.height) {
    *error = "image sizes differ";
    return false;
  }
  const std::string part = path + ".part";
  FILE* f = fopen(part.c_str(), "wb");
  if (!f) {
    *error = "cannot write " + part;
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<png_byte> row(static_cast<size_t>(expected.width) * 3);
  bool ok = png && info;
  if (ok && setjmp(png_jmpbuf(png))) {
    ok = false;
  } else if (ok) {
    png_init_io(png, f);
    png_set_IHDR(png, info, expected.width, expected.height, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < expected.height; ++y) {
      for (int x = 0; x < expected.width; ++x) {
        const uint32_t e = expected.at(x, y);
        const bool differs = e != actual.at(x, y);
        png_byte* p = &row[static_cast<size_t>(x) * 3];
        p[0] = differs ? 0xff : static_cast<png_byte>(((e >> 16) & 0xff) / 4);
        p[1] = differs ? 0x00 : static_cast<png_byte>(((e >> 8) & 0xff) / 4);
        p[2] = differs ? 0xff : static_cast<png_byte>((e & 0xff) / 4);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  ok = (fclose(f) == 0) && ok;
  if (!ok || rename(part.c_str(), path.c_str()) != 0) {
    remove(part.c_str());
    *error = "cannot write PNG " + path;
    return false;
  }
  return true;
}

}  // namespace visdiff
