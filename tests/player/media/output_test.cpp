// Outputs: whole or nothing, PNG bytes read back through libpng, video probed by ffprobe.
#include <png.h>
#include <string.h>

#include <gtest/gtest.h>

#include <vector>

#include "../test_support.h"
#include "audio/demo_tune.h"
#include "output/output_file.h"
#include "output/png_writer.h"
#include "output/video_writer.h"

namespace {
// Reads an 8-bit RGB PNG back as 0x00RRGGBB words.
bool readPng(const std::string& path, int* w, int* h, std::vector<uint32_t>* pixels) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return false;
  *w = (int)image.width;
  *h = (int)image.height;
  pixels->resize((size_t)*w * *h);
  for (size_t i = 0; i < pixels->size(); ++i)
    (*pixels)[i] = (uint32_t)rgb[i * 3] << 16 | (uint32_t)rgb[i * 3 + 1] << 8 | rgb[i * 3 + 2];
  return true;
}

std::string probe(const std::string& path, const std::string& entries) {
  std::string out;
  runCommand("ffprobe -v error -show_entries " + entries +
                 " -of default=noprint_wrappers=1 '" + path + "'",
             &out);
  return out;
}
}  // namespace

TEST(Output, PendingFileAppearsOnlyWhenCommitted) {
  ScratchDir dir;
  std::string error;
  {
    PendingFile f;
    ASSERT_TRUE(f.reserve(dir.file("a.png"), &error)) << error;
    EXPECT_TRUE(fileExists(f.temporaryPath()));
    EXPECT_FALSE(fileExists(dir.file("a.png")));
  }  // dropped: nothing left
  EXPECT_EQ(listFolder(dir.path()), "");
  {
    PendingFile f;
    ASSERT_TRUE(f.reserve(dir.file("b.png"), &error));
    ASSERT_TRUE(f.commit(&error)) << error;
  }
  EXPECT_EQ(listFolder(dir.path()), "b.png\n");

  // A folder that is missing, or a file where the folder should be.
  PendingFile g;
  EXPECT_FALSE(g.reserve("/nonexistent/dir/x.png", &error));
  EXPECT_NE(error.find("/nonexistent/dir: output folder does not exist"), std::string::npos)
      << error;
  EXPECT_FALSE(g.reserve(dir.file("b.png") + "/x.png", &error));
  EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
}

TEST(Output, PngHoldsTheFramesPixelsAndTheSameBytesEveryTime) {
  ScratchDir dir;
  // A 5 x 3 frame inside a stride of 8, with a marker in the unused part of each row.
  std::vector<uint32_t> buffer(8 * 3, 0x00ABCDEF);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) buffer[(size_t)y * 8 + x] = (uint32_t)(x * 50) << 16 | (uint32_t)(y * 100) << 8 | 7;
  FrameView view{buffer.data(), 5, 3, 8};
  std::string error;
  ASSERT_TRUE(writePng(dir.file("a.png"), view, &error)) << error;
  ASSERT_TRUE(writePng(dir.file("b.png"), view, &error)) << error;
  EXPECT_EQ(readWholeFile(dir.file("a.png")), readWholeFile(dir.file("b.png")));
  int w, h;
  std::vector<uint32_t> back;
  ASSERT_TRUE(readPng(dir.file("a.png"), &w, &h, &back));
  ASSERT_EQ(w, 5);
  ASSERT_EQ(h, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(back[(size_t)y * 5 + x], buffer[(size_t)y * 8 + x]);
  EXPECT_FALSE(writePng("/nonexistent/a.png", view, &error));
}

TEST(Output, PngSequenceIsRemovedUnlessCommitted) {
  ScratchDir dir;
  std::vector<uint32_t> buffer(4 * 4, 0x112233);
  FrameView view{buffer.data(), 4, 4, 4};
  std::string error;
  {
    PngSequence frames(dir.path());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(frames.write(view, &error)) << error;
    EXPECT_EQ(listFolder(dir.path()), "frame_000001.png\nframe_000002.png\nframe_000003.png\n");
  }
  EXPECT_EQ(listFolder(dir.path()), "");
  {
    PngSequence frames(dir.path());
    ASSERT_TRUE(frames.write(view, &error));
    frames.commit();
  }
  EXPECT_EQ(listFolder(dir.path()), "frame_000001.png\n");
}

TEST(Output, VideoThroughFfmpegHasTheFramesRateSizeAndAudio) {
  std::string ffmpeg = findOnPath("ffmpeg");
  ASSERT_FALSE(ffmpeg.empty()) << "ffmpeg is listed in scripts/deps.sh";
  ScratchDir dir;
  AudioClip tune;
  synthesiseDemoTune(1.0, &tune);
  std::string error;
  ASSERT_TRUE(writeWav(tune, dir.file("a.wav"), &error)) << error;
  // 40 frames at 40 per second: one second of video, with odd sizes padded to even.
  const struct { const char* name; int w, h; const char* size; bool audio; } cases[] = {
      {"v.mp4", 64, 48, "width=64\nheight=48", true},
      {"v.mkv", 33, 17, "width=34\nheight=18", true},
      {"v.webm", 32, 32, "width=32\nheight=32", true},
      {"v.gif", 16, 16, "width=16\nheight=16", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VideoFormat format;
    ASSERT_TRUE(videoFormatFor(c.name, &format));
    std::vector<uint32_t> pixels((size_t)c.w * c.h);
    VideoSettings settings;
    settings.width = c.w;
    settings.height = c.h;
    settings.frameRate = "40";
    settings.audioPath = dir.file("a.wav");
    VideoWriter video;
    ASSERT_TRUE(video.open(ffmpeg, dir.file(c.name), format, settings, &error)) << error;
    for (int i = 0; i < 40; ++i) {
      std::fill(pixels.begin(), pixels.end(), (uint32_t)(i * 6) << 8);
      ASSERT_TRUE(video.writeFrame(FrameView{pixels.data(), c.w, c.h, c.w}, &error)) << error;
    }
    EXPECT_FALSE(fileExists(dir.file(c.name)));  // not before it is finished
    ASSERT_TRUE(video.finish(&error)) << error;
    std::string v = probe(dir.file(c.name), "stream=codec_type,width,height,r_frame_rate");
    EXPECT_NE(v.find(c.size), std::string::npos) << v;
    if (format != VideoFormat::Gif) {
      EXPECT_NE(v.find("r_frame_rate=40/1"), std::string::npos) << v;
    }
    EXPECT_EQ(v.find("codec_type=audio") != std::string::npos, c.audio) << v;
    double seconds = atof(probe(dir.file(c.name), "format=duration").substr(9).c_str());
    EXPECT_NEAR(seconds, 1.0, 0.1);
  }
  EXPECT_EQ(listFolder(dir.path()), "a.wav\nv.gif\nv.mkv\nv.mp4\nv.webm\n");
}

TEST(Output, VideoFramesReachTheEncoderWholeAndInOrder) {
  // A stand-in encoder that keeps the bytes it is sent, in the output it is named: each
  // frame arrives once, in order, as raw pixels with nothing converted, and a frame of
  // another size is cropped and padded to the video's.
  ScratchDir dir;
  std::string error;
  const std::string keeper = dir.file("keep-frames");
  {
    FILE* script = fopen(keeper.c_str(), "w");
    ASSERT_NE(script, nullptr);
    fputs("#!/bin/sh\nfor last; do :; done\nexec cat > \"${last#file:}\"\n", script);
    fclose(script);
    ASSERT_EQ(chmod(keeper.c_str(), 0755), 0);
  }
  const int w = 8, h = 4, frames = 50;
  VideoSettings settings;
  settings.width = w;
  settings.height = h;
  settings.frameRate = "40";
  VideoWriter video;
  ASSERT_TRUE(video.open(keeper, dir.file("raw.mkv"), VideoFormat::Mkv, settings, &error)) << error;
  std::vector<uint32_t> expected;
  for (int i = 0; i < frames; ++i) {
    // Every pixel says which frame and where; every seventh frame is of another size
    // (a resize in flight): 10x3, cropped to 8 wide and padded with a black row.
    const bool other = i % 7 == 3;
    const int fw = other ? 10 : w, fh = other ? 3 : h;
    std::vector<uint32_t> pixels((size_t)fw * fh);
    for (int y = 0; y < fh; ++y) {
      for (int x = 0; x < fw; ++x) pixels[(size_t)y * fw + x] = (uint32_t)(i << 16 | y << 8 | x);
    }
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) expected.push_back(y < fh ? (uint32_t)(i << 16 | y << 8 | x) : 0);
    }
    ASSERT_TRUE(video.writeFrame(FrameView{pixels.data(), fw, fh, fw}, &error)) << error;
  }
  ASSERT_TRUE(video.finish(&error)) << error;
  std::string bytes = readWholeFile(dir.file("raw.mkv"));
  ASSERT_EQ(bytes.size(), expected.size() * 4);
  std::vector<uint32_t> got(expected.size());
  memcpy(got.data(), bytes.data(), bytes.size());
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i], expected[i]) << "frame " << i / (w * h) << ", pixel " << i % (w * h);
  }
}

TEST(Output, FailedOrAbortedVideoLeavesNothing) {
  ScratchDir dir;
  std::string error;
  std::vector<uint32_t> pixels(16 * 16);
  VideoSettings settings;
  settings.width = settings.height = 16;
  settings.frameRate = "40";
  {
    // A program that is not ffmpeg: it exits at once, so writes fail or finish does.
    VideoWriter video;
    ASSERT_TRUE(video.open("/bin/false", dir.file("x.mp4"), VideoFormat::Mp4, settings, &error));
    bool ok = true;
    for (int i = 0; i < 200 && ok; ++i) ok = video.writeFrame({pixels.data(), 16, 16, 16}, &error);
    if (ok) ok = video.finish(&error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("ffmpeg"), std::string::npos) << error;
  }
  {
    // An audio file ffmpeg cannot read: its own reason comes back.
    settings.audioPath = dir.file("missing.wav");
    VideoWriter video;
    ASSERT_TRUE(video.open(findOnPath("ffmpeg"), dir.file("y.mp4"), VideoFormat::Mp4, settings,
                           &error));
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) ok = video.writeFrame({pixels.data(), 16, 16, 16}, &error);
    if (ok) ok = video.finish(&error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("missing.wav"), std::string::npos) << error;
  }
  {
    // Abandoned midway (as on Ctrl-C): the child is stopped, the file removed.
    settings.audioPath.clear();
    VideoWriter video;
    ASSERT_TRUE(video.open(findOnPath("ffmpeg"), dir.file("z.mp4"), VideoFormat::Mp4, settings,
                           &error));
    ASSERT_TRUE(video.writeFrame({pixels.data(), 16, 16, 16}, &error)) << error;
  }
  EXPECT_EQ(listFolder(dir.path()), "");
  VideoFormat format;
  EXPECT_FALSE(videoFormatFor("x.avi", &format));
  EXPECT_TRUE(videoFormatFor("X.MP4", &format));
}
