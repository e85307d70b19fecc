// Outputs: whole or nothing, PNG bytes read back through libpng, video probed by ffprobe.
#include <errno.h>
#include <png.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>
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

TEST(Output, PngSequenceKeepsAnEarlierRunUntilCommitted) {
  std::vector<uint32_t> buffer(4 * 4, 0x112233);
  FrameView view{buffer.data(), 4, 4, 4};
  const std::string earlier = "frame_000001.png\nframe_000002.png\nframe_000003.png\n";
  // frames written, committed?, what the folder lists afterwards
  const struct { int frames; bool commit; std::string listing; } cases[] = {
      {2, false, earlier},  // abandoned (an error, a signal): the earlier run as it was
      {0, false, earlier},  // abandoned before its first frame
      {2, true, earlier},   // done: frames 1 and 2 are this run's, 3 the earlier run's
      {5, true, earlier + "frame_000004.png\nframe_000005.png\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.frames) + (c.commit ? " committed" : " abandoned"));
    ScratchDir dir;
    for (int i = 1; i <= 3; ++i) {
      std::ofstream(dir.file("frame_00000" + std::to_string(i) + ".png")) << "earlier run";
    }
    std::string error;
    {
      PngSequence frames(dir.path());
      for (int i = 0; i < c.frames; ++i) ASSERT_TRUE(frames.write(view, &error)) << error;
      // Nothing of this run shows in the folder before the commit.
      EXPECT_EQ(readWholeFile(dir.file("frame_000001.png")), "earlier run");
      if (c.commit) {
        ASSERT_TRUE(frames.commit(&error)) << error;
      }
    }
    EXPECT_EQ(listFolder(dir.path()), c.listing);
    for (int i = 1; i <= 3; ++i) {
      bool replaced = c.commit && i <= c.frames;
      std::string bytes = readWholeFile(dir.file("frame_00000" + std::to_string(i) + ".png"));
      EXPECT_EQ(bytes == "earlier run", !replaced) << i;
    }
  }
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

namespace {
// A stand-in for ffmpeg that says where it is (its pid in `pidFile`) and then does what
// `body` says, whatever it is told.
std::string fakeFfmpeg(const ScratchDir& dir, const std::string& name, const std::string& body) {
  std::string path = dir.file(name);
  std::ofstream(path) << "#!/bin/sh\necho $$ > '" << path << ".pid'\n" << body << "\n";
  chmod(path.c_str(), 0755);
  return path;
}

// The handlers back as they were before installInterruptHandler(), and the flag clear.
void restoreSignals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
  clearInterrupt();
}
}  // namespace

TEST(Output, ASignalStopsTheVideoWhileFfmpegReadsNothingOrNeverExits) {
  ScratchDir programs;
  // The signal comes from another thread while the writer waits; the wait it lands in
  // is the same wherever it is delivered.
  const struct { const char* note; std::string body; bool stuckInWrite; int signal; } cases[] = {
      {"reads nothing: a frame larger than the socket's buffer never goes",
       "trap '' TERM\nexec sleep 600", true, SIGINT},
      {"reads every frame but never exits", "cat >/dev/null\nexec sleep 600", false, SIGTERM},
      {"never exits and ignores SIGTERM: killed after the grace period",
       "trap '' TERM\ncat >/dev/null\nexec sleep 600", false, SIGHUP},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    std::string program = fakeFfmpeg(programs, "ffmpeg" + std::to_string(row++), c.body);
    ScratchDir out;
    const int side = c.stuckInWrite ? 2048 : 16;
    std::vector<uint32_t> pixels((size_t)side * side);
    VideoSettings settings;
    settings.width = settings.height = side;
    settings.frameRate = "40";
    std::string error;
    installInterruptHandler();
    VideoWriter video;
    ASSERT_TRUE(video.open(program, out.file("v.mp4"), VideoFormat::Mp4, settings, &error));
    std::thread signaller([&] {
      usleep(300000);
      kill(getpid(), c.signal);
    });
    bool ok = video.writeFrame({pixels.data(), side, side, side}, &error);
    if (ok) {
      EXPECT_FALSE(c.stuckInWrite);
      ok = video.finish(&error);
    }
    signaller.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "interrupted");
    EXPECT_EQ(interruptExitStatus(), 128 + c.signal);
    restoreSignals();
    // The child is gone (reaped, so its pid names no process) and nothing is left.
    pid_t pid = atoi(readWholeFile(program + ".pid").c_str());
    if (pid > 0) {
      EXPECT_EQ(kill(pid, 0), -1);
      EXPECT_EQ(errno, ESRCH);
    }
    EXPECT_EQ(listFolder(out.path()), "");
  }
}
