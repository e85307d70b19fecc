#include "output/png_writer.h"

#include <errno.h>
#include <png.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>  // mkdtemp
#include <unistd.h>

#include <vector>


namespace {
struct PngFailure {
  std::string message;
};

void onPngError(png_structp png, png_const_charp message) {
  static_cast<PngFailure*>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}
void onPngWarning(png_structp, png_const_charp) {}
}  // namespace

bool writePng(const std::string& path, const FrameView& frame, std::string* error) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    *error = path + ": cannot be written: " + strerror(errno);
    return false;
  }
  PngFailure failure;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, onPngError,
                                            onPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, nullptr);
    fclose(file);
    *error = path + ": libpng could not start";
    return false;
  }
  std::vector<png_byte> row((size_t)frame.width * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(file);
    *error = path + ": cannot write PNG: " + failure.message;
    return false;
  }
  png_init_io(png, file);
  // Frames are written by the thousand; a fast level keeps a folder of frames cheap.
  png_set_compression_level(png, 3);
  png_set_IHDR(png, info, (png_uint_32)frame.width, (png_uint_32)frame.height, 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < frame.height; ++y) {
    const uint32_t* in = frame.pixels + (size_t)y * frame.stride;
    png_byte* out = row.data();
    for (int x = 0; x < frame.width; ++x) {
      uint32_t c = in[x];
      out[x * 3] = (png_byte)(c >> 16);
      out[x * 3 + 1] = (png_byte)(c >> 8);
      out[x * 3 + 2] = (png_byte)c;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (fclose(file) != 0) {
    *error = path + ": cannot be written: " + strerror(errno);
    return false;
  }
  return true;
}

std::string PngSequence::name(int index) const {
  char text[32];
  snprintf(text, sizeof text, "frame_%06d.png", index);
  return text;
}

bool PngSequence::write(const FrameView& frame, std::string* error) {
  if (staging_.empty()) {
    std::string pattern = folder_ + "/.frames.part-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
      *error = folder_ + ": cannot be written: " + strerror(errno);
      return false;
    }
    staging_ = pattern;
  }
  std::string path = staging_ + "/" + name(next_);
  if (!writePng(path, frame, error)) {
    unlink(path.c_str());
    *error = folder_ + "/" + name(next_) + error->substr(path.size());
    return false;
  }
  ++next_;
  return true;
}

bool PngSequence::commit(std::string* error) {
  for (int i = 1; i < next_; ++i) {
    std::string from = staging_ + "/" + name(i), to = folder_ + "/" + name(i);
    if (rename(from.c_str(), to.c_str()) != 0) {
      *error = to + ": cannot be written: " + strerror(errno);
      return false;
    }
  }
  if (!staging_.empty()) rmdir(staging_.c_str());
  staging_.clear();
  return true;
}

void PngSequence::discard() {
  if (staging_.empty()) return;
  for (int i = 1; i < next_; ++i) unlink((staging_ + "/" + name(i)).c_str());
  rmdir(staging_.c_str());
  staging_.clear();
}
