// Outputs: whole or nothing, PNG bytes read back through libpng, video probed by ffprobe
// and decoded by ffmpeg, existing outputs kept, encoding choices checked against the
// container.
#include <errno.h>
#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <sys/file.h>  // flock: a leftover whose owner holds it
#include <sys/wait.h>
#include <unistd.h>
#include <sys/mount.h>     // the small tmpfs of the full-folder test
#include <sys/resource.h>  // its fallback, a file-size limit
#include <string.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string.h>

#include <fstream>
#include <thread>
#include <vector>

#include "test_support.h"
#include "audio/demo_tune.h"
#include "base/child_process.h"  // findOnPath
#include "base/files.h"
#include "base/signals.h"
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
      // done (replacing, as -y): frames 1 and 2 are this run's, and the earlier run's
      // frame 3 goes, so that it does not pose as this run's last
      {2, true, "frame_000001.png\nframe_000002.png\n"},
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
      ASSERT_TRUE(frames.open(IfExists::Replace, &error)) << error;
      for (int i = 0; i < c.frames; ++i) ASSERT_TRUE(frames.write(view, &error)) << error;
      // Nothing of this run shows in the folder before the commit.
      EXPECT_EQ(readWholeFile(dir.file("frame_000001.png")), "earlier run");
      if (c.commit) {
        ASSERT_TRUE(frames.commit(&error)) << error;
      }
    }
    EXPECT_EQ(listFolder(dir.path()), c.listing);
    for (int i = 1; i <= 3 && (!c.commit || i <= c.frames); ++i) {
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

namespace {
// Decodes the first frame of a video with the ffmpeg program into 8-bit RGB.
bool decodeFirstFrame(const std::string& video, int w, int h, std::string* rgb) {
  ScratchDir dir;
  std::string out;
  if (runCommand("ffmpeg -v error -i '" + video + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" +
                     dir.file("f.rgb") + "'",
                 &out) != 0)
    return false;
  *rgb = readWholeFile(dir.file("f.rgb"));
  return rgb->size() == (size_t)w * h * 3;
}

// The test's own scratch folder for ffmpeg's logs and the GIF's passes, so that what the
// writer leaves there can be seen.
class ScratchTmpdir {
 public:
  ScratchTmpdir() {
    const char* old = getenv("TMPDIR");
    if (old) old_ = old, hadOld_ = true;
    setenv("TMPDIR", dir_.path().c_str(), 1);
  }
  ~ScratchTmpdir() {
    if (hadOld_) setenv("TMPDIR", old_.c_str(), 1);
    else unsetenv("TMPDIR");
  }
  const ScratchDir& dir() const { return dir_; }

 private:
  ScratchDir dir_;
  std::string old_;
  bool hadOld_ = false;
};
}  // namespace

TEST(Output, DrawnColoursPlayBackWithinTwoLevels) {
  // 12 flat blocks in a 4 x 3 grid, encoded, decoded by the ffmpeg program (which reads
  // the tags) and compared at each block's centre. The oracle is the drawn value itself.
  const struct { uint32_t rgb; const char* note; } colours[] = {
      {0x069000, "the green that the SD matrix turned into (2,121,0) on HD"},
      {0xFF0000, "full red"},          {0x00FF00, "full green"},
      {0x0000FF, "full blue"},         {0xFFFFFF, "white: the top of the range"},
      {0x000000, "black: the bottom"}, {0x808080, "mid grey"},
      {0xFFFF00, "yellow"},            {0x00FFFF, "cyan"},
      {0xFF00FF, "magenta"},           {0xC86432, "a skin tone"},
      {0x101010, "near black"},
  };
  const struct { int w, h; const char* space; const char* note; } sizes[] = {
      {640, 480, "smpte170m", "SD: BT.601"},
      {1280, 720, "bt709", "HD: BT.709"},
  };
  ScratchDir dir;
  std::string error;
  for (const auto& size : sizes) {
    SCOPED_TRACE(size.note);
    std::vector<uint32_t> pixels((size_t)size.w * size.h);
    for (int y = 0; y < size.h; ++y)
      for (int x = 0; x < size.w; ++x)
        pixels[(size_t)y * size.w + x] = colours[x * 4 / size.w + 4 * (y * 3 / size.h)].rgb;
    std::string path = dir.file(std::string(size.space) + ".mp4");
    VideoSettings settings;
    settings.width = size.w;
    settings.height = size.h;
    settings.frameRate = "40";
    VideoWriter video;
    ASSERT_TRUE(video.open(findOnPath("ffmpeg"), path, VideoFormat::Mp4, settings, &error))
        << error;
    for (int i = 0; i < 8; ++i)
      ASSERT_TRUE(video.writeFrame({pixels.data(), size.w, size.h, size.w}, &error)) << error;
    ASSERT_TRUE(video.finish(&error)) << error;
    std::string tags =
        probe(path, "stream=color_space,color_primaries,color_transfer,color_range");
    EXPECT_EQ(tags, std::string("color_range=tv\ncolor_space=") + size.space +
                        "\ncolor_transfer=" + size.space + "\ncolor_primaries=" + size.space +
                        "\n");
    std::string rgb;
    ASSERT_TRUE(decodeFirstFrame(path, size.w, size.h, &rgb));
    for (int i = 0; i < 12; ++i) {
      int x = (int)((i % 4 + 0.5) * size.w / 4), y = (int)((i / 4 + 0.5) * size.h / 3);
      const unsigned char* got = (const unsigned char*)&rgb[((size_t)y * size.w + x) * 3];
      uint32_t want = colours[i].rgb;
      for (int c = 0; c < 3; ++c) {
        int drawn = (int)(want >> (16 - 8 * c)) & 0xFF;
        EXPECT_NEAR(got[c], drawn, 2) << colours[i].note << ", channel " << c;
      }
    }
  }
}

TEST(Output, EncodingChoicesFollowTheContainer) {
  // format, choice, source audio codec; the resolved encoder, crf, preset, audio encoder
  // and bit rate, or the words of the refusal.
  struct Case {
    VideoFormat format;
    EncodingChoice choice;
    const char* source;
    const char* encoder;
    int crf;
    const char* preset;
    const char* audio;
    int bitrate;
    const char* refusal;
    const char* note;
  };
  auto choose = [](const char* codec, int crf, const char* preset, int bitrate, bool copy) {
    EncodingChoice c;
    c.codec = codec;
    c.crf = crf;
    c.preset = preset;
    c.audioBitrate = bitrate;
    c.audioCopy = copy;
    return c;
  };
  const Case cases[] = {
      {VideoFormat::Mp4, choose("", -1, "", 0, false), "", "libx264", 20, "veryfast", "aac", 192, nullptr, "MP4 defaults"},
      {VideoFormat::Webm, choose("", -1, "", 0, false), "", "libvpx-vp9", 32, "realtime", "libopus", 128, nullptr, "WebM defaults"},
      {VideoFormat::Mkv, choose("h265", 28, "slow", 256, false), "", "libx265", 28, "slow", "aac", 256, nullptr, "h265 is hevc"},
      {VideoFormat::Mkv, choose("", -1, "", 0, true), "flac", "libx264", 20, "veryfast", "copy", 0, nullptr, "Matroska holds FLAC"},
      {VideoFormat::Mp4, choose("", -1, "", 0, true), "aac", "libx264", 20, "veryfast", "copy", 0, nullptr, "MP4 holds AAC"},
      {VideoFormat::Mp4, choose("", -1, "", 0, true), "flac", "", 0, "", "", 0, "--audio copy: MP4 cannot hold flac", "FLAC into MP4"},
      {VideoFormat::Webm, choose("", -1, "", 0, true), "aac", "", 0, "", "", 0, "--audio copy: WebM cannot hold aac", "AAC into WebM"},
      {VideoFormat::Webm, choose("h264", -1, "", 0, false), "", "", 0, "", "", 0, "--codec h264: WebM takes vp9, av1", "H.264 into WebM"},
      {VideoFormat::Mp4, choose("mpeg2", -1, "", 0, false), "", "", 0, "", "", 0, "--codec mpeg2: MP4 takes", "no such codec"},
      {VideoFormat::Mp4, choose("", 60, "", 0, false), "", "", 0, "", "", 0, "--crf 60: h264 takes 0 to 51", "beyond x264's scale"},
      {VideoFormat::Webm, choose("", 60, "", 0, false), "", "libvpx-vp9", 60, "realtime", "libopus", 128, nullptr, "within VP9's"},
      {VideoFormat::Mp4, choose("", -1, "realtime", 0, false), "", "", 0, "", "", 0, "--preset realtime: h264 takes ultrafast", "VP9's preset for x264"},
      {VideoFormat::Gif, choose("", 20, "", 0, false), "", "", 0, "", "", 0, "--crf: not for GIF", "GIF has no quality scale"},
      {VideoFormat::Mkv, choose("", -1, "", 96, true), "flac", "", 0, "", "", 0, "--audio-bitrate: not with --audio copy", "copy has no bit rate"},
  };
  for (const Case& c : cases) {
    VideoEncoding e;
    std::string error;
    bool ok = resolveEncoding(c.format, c.choice, c.source, &e, &error);
    EXPECT_EQ(ok, c.refusal == nullptr) << c.note << ": " << error;
    if (c.refusal) {
      EXPECT_EQ(error.rfind(c.refusal, 0), 0u) << c.note << ": " << error;
    } else if (ok) {
      EXPECT_EQ(e.encoder, c.encoder) << c.note;
      EXPECT_EQ(e.crf, c.crf) << c.note;
      EXPECT_EQ(e.preset, c.preset) << c.note;
      EXPECT_EQ(e.audioEncoder, c.audio) << c.note;
      EXPECT_EQ(e.audioBitrate, c.bitrate) << c.note;
    }
  }
  int divisor;
  EXPECT_EQ(gifFrameRate("40", &divisor), 20);  // 5 hundredths a frame, every second frame
  EXPECT_EQ(divisor, 2);
  EXPECT_EQ(gifFrameRate("25", &divisor), 25);
  // A module's 30 ms interval: 3 hundredths a frame as it is, every frame kept.
  EXPECT_NEAR(gifFrameRate("1000/30", &divisor), 1000.0 / 30, 1e-9);
  EXPECT_EQ(divisor, 1);
  // 1000/15 fps: 1.5 hundredths a frame, so every second frame at 3 hundredths.
  EXPECT_NEAR(gifFrameRate("1000/15", &divisor), 1000.0 / 30, 1e-9);
  EXPECT_EQ(divisor, 2);
  EXPECT_EQ(gifFrameRate("fast", &divisor), 0);  // no rate: refused, not divided by 0
}

TEST(Output, AudioChoicesReachTheFile) {
  ScratchDir dir;
  ScratchTmpdir tmp;
  AudioClip tune;
  synthesiseDemoTune(2.0, &tune);
  std::string error, out;
  ASSERT_TRUE(writeWav(tune, dir.file("a.wav"), &error)) << error;
  ASSERT_EQ(runCommand("ffmpeg -v error -i '" + dir.file("a.wav") + "' '" + dir.file("a.flac") + "'",
                       &out), 0) << out;
  std::vector<uint32_t> pixels(64 * 48, 0x336699);
  // output, audio source, choice; what ffprobe must show of the audio stream
  struct Case { const char* name; const char* source; EncodingChoice choice; const char* shows; };
  EncodingChoice copy, low;
  copy.audioCopy = true;
  low.audioBitrate = 64;
  const Case cases[] = {
      {"copy.mkv", "a.flac", copy, "codec_name=flac"},
      {"low.mp4", "a.wav", low, "codec_name=aac"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VideoSettings settings;
    settings.width = 64;
    settings.height = 48;
    settings.frameRate = "40";
    settings.audioPath = dir.file(c.source);
    settings.encoding = c.choice;
    VideoWriter video;
    ASSERT_TRUE(video.open(findOnPath("ffmpeg"), dir.file(c.name),
                           c.name[strlen(c.name) - 1] == 'v' ? VideoFormat::Mkv : VideoFormat::Mp4,
                           settings, &error))
        << error;
    for (int i = 0; i < 80; ++i)
      ASSERT_TRUE(video.writeFrame({pixels.data(), 64, 48, 64}, &error)) << error;
    ASSERT_TRUE(video.finish(&error)) << error;
    std::string audio;
    runCommand("ffprobe -v error -select_streams a -show_entries stream=codec_name,bit_rate "
               "-of default=noprint_wrappers=1 '" + dir.file(c.name) + "'", &audio);
    EXPECT_NE(audio.find(c.shows), std::string::npos) << audio;
    if (!c.choice.audioCopy) {
      size_t at = audio.find("bit_rate=");
      ASSERT_NE(at, std::string::npos) << audio;
      EXPECT_NEAR(atof(audio.c_str() + at + 9), 64000, 16000) << audio;
    }
  }
  // FLAC cannot go into MP4 as it is: refused before ffmpeg starts, nothing written.
  VideoSettings settings;
  settings.width = settings.height = 16;
  settings.frameRate = "40";
  settings.audioPath = dir.file("a.flac");
  settings.encoding = copy;
  VideoWriter video;
  EXPECT_FALSE(video.open(findOnPath("ffmpeg"), dir.file("no.mp4"), VideoFormat::Mp4, settings,
                          &error));
  EXPECT_NE(error.find("MP4 cannot hold flac"), std::string::npos) << error;
  EXPECT_EQ(listFolder(dir.path()), "a.flac\na.wav\ncopy.mkv\nlow.mp4\n");
  EXPECT_EQ(listFolder(tmp.dir().path()), "");  // no log or scratch left behind
}

TEST(Output, ExistingOutputsAreKeptUnlessReplacing) {
  ScratchDir dir;
  std::string error;
  std::ofstream(dir.file("old.png")) << "old";
  std::vector<uint32_t> pixels(16 * 16, 0x445566);
  FrameView view{pixels.data(), 16, 16, 16};
  {
    PendingFile f;
    EXPECT_FALSE(f.reserve(dir.file("old.png"), IfExists::Refuse, &error));
    EXPECT_EQ(error, dir.file("old.png") + ": already exists (-y replaces it)");
    // A file that appears between reserve and commit is kept, not overwritten.
    ASSERT_TRUE(f.reserve(dir.file("late.png"), IfExists::Refuse, &error)) << error;
    std::ofstream(dir.file("late.png")) << "late";
    EXPECT_FALSE(f.commit(&error));
    EXPECT_NE(error.find("already exists"), std::string::npos) << error;
    EXPECT_EQ(readWholeFile(dir.file("late.png")), "late");
    ASSERT_TRUE(f.reserve(dir.file("old.png"), IfExists::Replace, &error)) << error;
    ASSERT_TRUE(f.commit(&error)) << error;
    EXPECT_EQ(readWholeFile(dir.file("old.png")), "");
  }
  {
    VideoSettings settings;
    settings.width = settings.height = 16;
    settings.frameRate = "40";
    VideoWriter video;
    EXPECT_FALSE(video.open(findOnPath("ffmpeg"), dir.file("old.png"), VideoFormat::Mp4,
                            settings, &error));
    EXPECT_EQ(error, dir.file("old.png") + ": already exists (-y replaces it)");
  }
  // A frames folder that holds frames of the pattern is refused; replacing writes over
  // the frames and removes an earlier run's frames beyond the new last one, nothing else.
  ScratchDir frames;
  {
    PngSequence run(frames.path());
    ASSERT_TRUE(run.open(IfExists::Refuse, &error)) << error;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(run.write(view, &error)) << error;
    ASSERT_TRUE(run.commit(&error)) << error;
  }
  std::ofstream(frames.file("notes.txt")) << "mine";
  PngSequence again(frames.path());
  EXPECT_FALSE(again.open(IfExists::Refuse, &error));
  EXPECT_EQ(error, frames.path() + ": already holds frames named frame_%06d.png (-y replaces them)");
  ASSERT_TRUE(again.open(IfExists::Replace, &error)) << error;
  ASSERT_TRUE(again.write(view, &error)) << error;
  ASSERT_TRUE(again.commit(&error)) << error;
  EXPECT_EQ(listFolder(frames.path()), "frame_000001.png\nnotes.txt\n");
  // Without -y, a frame that appears in the folder during the run is kept at commit, and
  // the run's frames already moved in are taken back out: nothing of the run is left.
  ScratchDir late;
  {
    PngSequence run(late.path());
    ASSERT_TRUE(run.open(IfExists::Refuse, &error)) << error;
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(run.write(view, &error)) << error;
    std::ofstream(late.file("frame_000002.png")) << "late";
    EXPECT_FALSE(run.commit(&error));
    EXPECT_EQ(error, late.file("frame_000002.png") + ": already exists (-y replaces it)");
  }
  EXPECT_EQ(listFolder(late.path()), "frame_000002.png\n");
  EXPECT_EQ(readWholeFile(late.file("frame_000002.png")), "late");
}

namespace {
// A folder with no room: a 16 KiB tmpfs mounted on a scratch folder where this process
// may mount (root with the capability), else a file-size limit of 16 KiB on the whole
// process (which ffmpeg inherits). Either way a write past 16 KiB fails with a reason.
class SmallFolder {
 public:
  SmallFolder() {
    if (mount("tmpfs", dir_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=16k") == 0) {
      mounted_ = true;
      reason_ = strerror(ENOSPC);
    } else {
      getrlimit(RLIMIT_FSIZE, &old_);
      struct rlimit small = old_;
      small.rlim_cur = 16 * 1024;
      setrlimit(RLIMIT_FSIZE, &small);
      reason_ = strerror(EFBIG);
    }
    signal(SIGXFSZ, SIG_IGN);
  }
  ~SmallFolder() {
    if (mounted_) umount2(dir_.path().c_str(), MNT_DETACH);
    else setrlimit(RLIMIT_FSIZE, &old_);
  }
  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& path() const { return dir_.path(); }
  const std::string& reason() const { return reason_; }  // the system's words expected

 private:
  ScratchDir dir_;
  bool mounted_ = false;
  struct rlimit old_ = {};
  std::string reason_;
};
}  // namespace

TEST(Output, FullFolderGivesTheSystemsReasonAndLeavesNothing) {
  ScratchTmpdir tmp;
  SmallFolder full;
  // Fresh noise in every frame, so that no encoder can squeeze the video into the room.
  std::vector<uint32_t> pixels(320 * 240);
  uint32_t seed = 12345;
  auto noise = [&] {
    for (uint32_t& p : pixels) p = (seed = seed * 1103515245u + 12345u) >> 8;
  };
  noise();
  FrameView view{pixels.data(), 320, 240, 320};
  std::string error;
  for (const char* name : {"v.mp4", "v.webm", "v.gif"}) {
    SCOPED_TRACE(name);
    VideoFormat format;
    ASSERT_TRUE(videoFormatFor(name, &format));
    VideoSettings settings;
    settings.width = 320;
    settings.height = 240;
    settings.frameRate = "40";
    VideoWriter video;
    ASSERT_TRUE(video.open(findOnPath("ffmpeg"), full.file(name), format, settings, &error))
        << error;
    bool ok = true;
    for (int i = 0; i < 12 && ok; ++i) {
      noise();
      ok = video.writeFrame(view, &error);
    }
    if (ok) ok = video.finish(&error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, full.file(name) + ": " + full.reason());
    EXPECT_EQ(listFolder(full.path()), "");
  }
  {
    PendingFile snapshot;
    ASSERT_TRUE(snapshot.reserve(full.file("s.png"), &error)) << error;
    EXPECT_FALSE(writePng(snapshot.temporaryPath(), view, &error, full.file("s.png")));
    EXPECT_EQ(error, full.file("s.png") + ": " + full.reason());
  }
  {
    PngSequence frames(full.path());
    ASSERT_TRUE(frames.open(IfExists::Refuse, &error)) << error;
    EXPECT_FALSE(frames.write(view, &error));
    EXPECT_EQ(error, full.file("frame_000001.png") + ": " + full.reason());
  }
  EXPECT_EQ(listFolder(full.path()), "");
  EXPECT_EQ(listFolder(tmp.dir().path()), "");
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

// nohup sets SIGHUP to be ignored, a non-interactive shell's background job SIGINT; the
// program must not take them back. A signal left at its default gets the handler.
TEST(Output, ASignalIgnoredAtStartStaysIgnored) {
  const struct { const char* note; int signal; bool ignoredAtStart; } cases[] = {
      {"SIGHUP under nohup", SIGHUP, true},
      {"SIGINT in a background job of a script", SIGINT, true},
      {"SIGTERM at its default: stops the run", SIGTERM, false},
      {"SIGHUP at its default: stops the run", SIGHUP, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    restoreSignals();
    signal(c.signal, c.ignoredAtStart ? SIG_IGN : SIG_DFL);
    installInterruptHandler();
    struct sigaction now;
    ASSERT_EQ(sigaction(c.signal, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler == SIG_IGN, c.ignoredAtStart);
    raise(c.signal);  // ignored, or recorded by the handler: never the default action
    EXPECT_EQ(interruptRequested(), !c.ignoredAtStart);
  }
  restoreSignals();
}

namespace {
// A run killed with SIGKILL: a child that makes a scratch file, reserves `video` and
// stages one frame into `frames`, then waits to be killed. Its pid, once reaped.
pid_t killedRun(const std::string& video, const std::string& frames) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    std::string error;
    PendingFile file;
    PngSequence sequence(frames);
    std::vector<uint32_t> pixels(16, 0x123456);
    bool ok = !makeScratchFile("gif", ".mkv", &error).empty() &&
              file.reserve(video, IfExists::Refuse, &error) &&
              sequence.open(IfExists::Refuse, &error) &&
              sequence.write({pixels.data(), 4, 4, 4}, &error);
    char byte = ok ? 'y' : 'n';
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  bool ok = read(ready[0], &byte, 1) == 1 && byte == 'y';
  close(ready[0]);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return ok ? child : -1;
}
}  // namespace

TEST(Output, TheNextRunRemovesWhatAKilledRunLeft) {
  ScratchTmpdir tmp;
  ScratchDir out, frames;
  const pid_t dead = killedRun(out.file("x.mp4"), frames.path());
  ASSERT_GT(dead, 0);
  const std::string pid = std::to_string(dead);
  // What it left: its scratch folder with a file, a .part file, a staging folder.
  std::string left = listFolder(tmp.dir().path());
  EXPECT_EQ(left.rfind("orlimvis-run-" + pid + "-", 0), 0u) << left;
  EXPECT_EQ(listFolder(out.path()), ".x.mp4.part-" + pid + ".mp4\n");
  EXPECT_EQ(listFolder(frames.path()).rfind(".frames.part-" + pid + "-", 0), 0u);

  // Look-alikes that are no run's leftovers, and leftovers whose owner may be alive,
  // stay: the name, then why it is kept.
  const struct { std::string folder, name; const char* why; } kept[] = {
      {out.path(), ".x.mp4.part-" + pid + ".mkv", "another output's"},
      {out.path(), ".x.mp4.part-1.mp4", "process 1 is alive"},
      {out.path(), ".x.mp4.part-" + pid + "1.mp4", "locked: its owner is in another pid namespace"},
      {out.path(), ".x.mp4.part-notes.mp4", "no process id"},
      {tmp.dir().path(), "orlimvis-run-notes", "no process id"},
      {tmp.dir().path(), ".frames.part-" + pid + "-abcdef", "a staging folder's name elsewhere"},
  };
  int lockFd = -1;
  for (const auto& k : kept) {
    std::ofstream(k.folder + "/" + k.name) << k.why;
    if (strstr(k.why, "locked")) {
      lockFd = open((k.folder + "/" + k.name).c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_EQ(flock(lockFd, LOCK_EX), 0);
    }
  }
  // The next run on the same outputs: a scratch file, the video, the frames. The folder
  // of frames counts as empty, since what the killed run staged is no one's.
  std::string error;
  ScratchFile scratch;
  ASSERT_TRUE(scratch.make("gif", ".mkv", &error)) << error;
  PendingFile file;
  ASSERT_TRUE(file.reserve(out.file("x.mp4"), IfExists::Refuse, &error)) << error;
  PngSequence sequence(frames.path());
  ASSERT_TRUE(sequence.open(IfExists::Refuse, &error)) << error;
  for (const auto& k : kept) EXPECT_TRUE(fileExists(k.folder + "/" + k.name)) << k.name;
  EXPECT_EQ(listFolder(out.path()).find(".x.mp4.part-" + pid + ".mp4"), std::string::npos);
  EXPECT_EQ(listFolder(frames.path()), "");
  left = listFolder(tmp.dir().path());
  EXPECT_EQ(left.find("orlimvis-run-" + pid + "-"), std::string::npos) << left;
  // This run's own: its scratch folder, locked, so that a run beside it keeps off.
  const std::string mine = "orlimvis-run-" + std::to_string(getpid()) + "-";
  EXPECT_NE(left.find(mine), std::string::npos) << left;
  close(lockFd);
}
