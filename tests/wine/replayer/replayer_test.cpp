// The oracle's own tools: the replayer's refusal of bad traces (under Wine, one short
// start per case) and the pixel diff (no Wine).
#include <gtest/gtest.h>
#include <png.h>  // libpng: reading the diff image back
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>  // ftruncate

#include "oracle.h"
#include "visdiff.h"

namespace {

bool exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// A bad trace is refused with the line and the reason, a non-zero status, and no dump.
TEST(Replayer, RefusesBadTraces) {
  struct Row {
    const char* name;
    const char* trace;
    const char* reason;
  };
  const Row table[] = {
      {"bad_call", "#1 = CreateCompatibleDC #0\nScribble #1 2 3\n", "2: unknown call"},
      {"bad_polygon", "#1 = CreateCompatibleDC #0\nPolygon #1 3 0 0 5 5\n", "polygon points missing"},
      {"bad_number", "#1 = CreatePen 0 x 0x00ff0000\n", "bad arguments"},
  };
  for (const Row& row : table) {
    std::vector<visdiff::Image> images;
    std::string error;
    const std::string name = std::string("refuse_") + row.name;
    EXPECT_FALSE(oracle::runReplayer(row.trace, name, &images, &error)) << row.name;
    EXPECT_NE(error.find(row.reason), std::string::npos) << row.name << ": " << error;
    EXPECT_FALSE(exists(oracle::outputDir() + "/" + name + ".wine.bin")) << row.name;
    EXPECT_FALSE(exists(oracle::outputDir() + "/" + name + ".wine.bin.part")) << row.name;
  }
}

visdiff::Image solid(int w, int h, uint32_t pixel) {
  visdiff::Image image;
  image.width = w;
  image.height = h;
  image.pixels.assign(static_cast<size_t>(w) * h, pixel);
  return image;
}

// The diff counts every differing pixel, lists the first ones in row order, and marks
// each of them in the PNG (magenta), dimming the rest.
TEST(Visdiff, CountsListsAndMarks) {
  const visdiff::Image wine = solid(5, 4, 0x808080);
  visdiff::Image ours = wine;
  ours.pixels[3 * 5 + 1] = 0x000001;  // (1, 3)
  ours.pixels[0 * 5 + 4] = 0xffffff;  // (4, 0)
  ours.pixels[2 * 5 + 0] = 0x123456;  // (0, 2)
  const visdiff::Diff d = visdiff::diffImages(wine, ours, 2);
  EXPECT_EQ(d.count, 3);
  ASSERT_EQ(d.first.size(), 2u);
  EXPECT_EQ(d.first[0].x, 4);
  EXPECT_EQ(d.first[0].y, 0);
  EXPECT_EQ(d.first[0].expected, 0x808080u);
  EXPECT_EQ(d.first[0].actual, 0xffffffu);
  EXPECT_EQ(d.first[1].x, 0);
  EXPECT_EQ(d.first[1].y, 2);
  EXPECT_NE(visdiff::describe(d).find("(0, 2) oracle 0x808080 ours 0x123456"), std::string::npos);
  EXPECT_EQ(visdiff::diffImages(wine, solid(4, 4, 0), 2).count, -1);  // sizes differ

  const std::string path = oracle::outputDir() + "/visdiff_selftest.png";
  std::string error;
  ASSERT_TRUE(visdiff::writeDiffPng(path, wine, ours, &error)) << error;
  png_image read = {};
  read.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&read, path.c_str()));
  read.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb(PNG_IMAGE_SIZE(read));
  ASSERT_TRUE(png_image_finish_read(&read, nullptr, rgb.data(), 0, nullptr));
  ASSERT_EQ(read.width, 5u);
  ASSERT_EQ(read.height, 4u);
  auto at = [&](int x, int y) {
    const png_byte* p = &rgb[(static_cast<size_t>(y) * 5 + x) * 3];
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  };
  EXPECT_EQ(at(1, 3), 0xff00ffu);
  EXPECT_EQ(at(4, 0), 0xff00ffu);
  EXPECT_EQ(at(2, 2), 0x202020u);  // a quarter of 0x80
}

// Dump files round-trip, and a truncated one is refused.
TEST(Visdiff, DumpFilesRoundTripAndRefuseTruncation) {
  const std::string path = oracle::outputDir() + "/visdiff_selftest.bin";
  std::vector<visdiff::Image> images = {solid(3, 2, 0x010203), solid(1, 7, 0xabcdef)};
  std::string error;
  ASSERT_TRUE(visdiff::writeDumpFile(path, images, &error)) << error;
  std::vector<visdiff::Image> back;
  ASSERT_TRUE(visdiff::readDumpFile(path, &back, &error)) << error;
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].height, 7);
  EXPECT_EQ(back[1].pixels, images[1].pixels);
  // Cut the last image short.
  FILE* f = fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(ftruncate(fileno(f), 8 + 8 + 24 + 8 + 20), 0);
  fclose(f);
  EXPECT_FALSE(visdiff::readDumpFile(path, &back, &error));
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

}  // namespace
