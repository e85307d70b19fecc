// Decoding through FFmpeg's libraries, on clips made by the ffmpeg program; the demo
// tune; the feed that streams a source into analysis windows.
#include <math.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>  // mkfifo
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "test_support.h"
#include "audio/audio_clip.h"
#include "audio/audio_feed.h"
#include "audio/decoder.h"
#include "audio/demo_tune.h"
#include "frame_clock.h"
#include "spectrum/analyser.h"

namespace {
// Makes a file with the ffmpeg program: `args` are its inputs and options.
void makeClip(const std::string& path, const std::string& args) {
  std::string out;
  ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -y " + args + " '" + path + "'", &out), 0) << out;
}

// Reads a whole source into a clip.
void readAll(AudioSource* source, AudioClip* clip) {
  clip->sampleRate = source->sampleRate();
  clip->streamChannels = source->streamChannels();
  clip->samples.clear();
  std::vector<float> block(4096 * 2);
  int64_t got;
  while ((got = source->read(block.data(), 4096)) > 0) {
    clip->samples.insert(clip->samples.end(), block.begin(), block.begin() + got * 2);
  }
}

FrameClock clockOf(int intervalMillis, int rate) {
  VisModule record = {};
  record.frameIntervalMillis = intervalMillis;
  FrameClock clock;
  std::string error;
  EXPECT_TRUE(FrameClock::forModule(record, "test", rate, &clock, &error)) << error;
  return clock;
}

}  // namespace

TEST(Decoder, ReadsEveryFormatRateAndChannelCount) {
  ScratchDir dir;
  // file, ffmpeg inputs and options, rate, stream channels, seconds, exact levels, title
  const struct {
    const char* name;
    std::string args;
    int rate, channels;
    double seconds;
    bool exact;
    const char* title;
  } cases[] = {
      // AAC in MP4, with tags: the title comes from them.
      {"song.m4a", "-f lavfi -i sine=f=440:r=44100:d=2 -ac 2 -c:a aac -metadata title=Song "
                   "-metadata artist=Band", 44100, 2, 2, false, "Band - Song"},
      // Opus over 30 s, read in one go.
      {"long.opus", "-f lavfi -i sine=f=440:r=48000:d=33 -c:a libopus", 48000, 1, 33, false, "long.opus"},
      {"x.mp3", "-f lavfi -i sine=f=440:r=44100:d=2 -ac 2 -c:a libmp3lame", 44100, 2, 2, false, "x.mp3"},
      {"x.flac", "-f lavfi -i 'aevalsrc=0.25|0.5:s=96000:d=1.5' -c:a flac", 96000, 2, 1.5, true, "x.flac"},
      {"x.ogg", "-f lavfi -i sine=f=440:r=22050:d=2 -c:a libvorbis", 22050, 1, 2, false, "x.ogg"},
      // 5.1: mixed down by FFmpeg's matrix; the stream's six channels are reported.
      {"surround.wav", "-f lavfi -i 'aevalsrc=0.1|0.1|0.1|0.1|0.1|0.1:s=48000:d=1:c=5.1' -c:a pcm_f32le",
       48000, 6, 1, false, "surround.wav"},
      // Mono is doubled.
      {"mono.wav", "-f lavfi -i 'aevalsrc=0.25:s=8000:d=1' -c:a pcm_s16le", 8000, 1, 1, true, "mono.wav"},
      {"x.wma", "-f lavfi -i sine=f=440:r=44100:d=2 -ac 2 -c:a wmav2", 44100, 2, 2, false, "x.wma"},
      {"lossless.m4a", "-f lavfi -i 'aevalsrc=0.25|0.5:s=44100:d=1' -c:a alac", 44100, 2, 1, true,
       "lossless.m4a"},
      // The sound of a video file.
      {"film.mkv", "-f lavfi -i testsrc=s=32x32:d=1 -f lavfi -i sine=r=44100:d=1 -c:v mpeg4 -c:a pcm_s16le",
       44100, 1, 1, false, "film.mkv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.file(c.name);
    makeClip(path, c.args);
    AudioDecoder decoder;
    std::string error;
    ASSERT_TRUE(decoder.open(path, &error)) << error;
    EXPECT_EQ(decoder.sampleRate(), c.rate);
    EXPECT_EQ(decoder.streamChannels(), c.channels);
    EXPECT_EQ(decoder.title(), c.title);
    EXPECT_NEAR((double)decoder.frames() / c.rate, c.seconds, 0.1);
    AudioClip clip;
    readAll(&decoder, &clip);
    EXPECT_EQ(decoder.error(), "");
    EXPECT_NEAR(clip.seconds(), c.seconds, 0.1);
    size_t mid = (size_t)clip.frameCount() / 2 * 2;
    if (c.exact) {
      EXPECT_NEAR(clip.samples[mid], 0.25f, 1e-3);
      EXPECT_NEAR(clip.samples[mid + 1], c.channels == 1 ? 0.25f : 0.5f, 1e-3);
    }
    if (c.channels == 6) {
      // Every channel at 0.1, mixed with FFmpeg's gains: both sides louder than one.
      EXPECT_GT(clip.samples[mid], 0.1f);
      EXPECT_NEAR(clip.samples[mid], clip.samples[mid + 1], 1e-4);
    }
  }
}

TEST(Decoder, EachBadFileGetsItsOwnReason) {
  ScratchDir dir;
  auto write = [&](const char* name, const std::string& bytes) {
    FILE* f = fopen(dir.file(name).c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return dir.file(name);
  };
  std::string empty = write("empty.flac", "");
  std::string text = write("notes.mp3", "these are the words of a song, not its sound\n");
  makeClip(dir.file("video.mp4"), "-f lavfi -i testsrc=s=32x32:d=1 -c:v mpeg4");
  // A WAV header for a codec that has no number FFmpeg knows (format tag 0x2222).
  std::string odd = std::string("RIFF\x34\0\0\0WAVEfmt \x10\0\0\0\x22\x22\x02\0\x44\xac\0\0", 28) +
                    std::string("\x10\xb1\x02\0\x04\0\x10\0data\x10\0\0\0", 16) + std::string(16, '\1');
  std::string unknown = write("odd.wav", odd);
  // A WAV whose LIST chunk states nearly 4 GB (found by fuzzing): refused without
  // FFmpeg allocating what it states.
  std::string huge = write("huge.wav", std::string(
      "RIFF\x80\x11\0\0WAVEfmt \x10\0\0\0\x01\x04\x01\0\x44\xac\0\0\x44\xac\0\0\x01\0\x08\0"
      "LIST\x1a\0\0\xf7INFOISFT\x0e\0\0\0Lavf59.27.100\0dat':use\x80\x81\x81\x82\x83\x84"
      ".snd\0\0\0 \0\0\x11:\0\0\0\x01\0\0\xac\x44\0\0\0\x01\0\0\0\0\0\x85", 114));
  std::string locked = write("locked.wav", "RIFF");
  chmod(locked.c_str(), 0);
  bool root = geteuid() == 0;  // root reads it anyway
  // path, the words of its reason (each case its own)
  const struct { std::string path, says; } cases[] = {
      {"/nonexistent/song.flac", ": no such file"},
      {dir.path(), ": is a directory"},
      {empty, ": not an audio file (it is empty)"},
      {text, ": not an audio file ("},
      {dir.file("video.mp4"), ": no audio stream"},
      {unknown, ": unsupported audio codec (tag 0x2222)"},
      {locked, root ? ": not an audio file (" : ": cannot read: Permission denied"},
      {huge, ": not an audio file ("},
  };
  for (const auto& c : cases) {
    AudioDecoder decoder;
    std::string error;
    EXPECT_FALSE(decoder.open(c.path, &error)) << c.path;
    EXPECT_EQ(error.rfind(c.path + c.says, 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  // The process's peak stays far below the 1.7 GB the huge WAV once took.
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  EXPECT_LT(usage.ru_maxrss, 1 << 20) << "KB at peak";
}

TEST(Decoder, DamageIsSkippedWithItsPlaceOrStopsTheReadingWhenStrict) {
  ScratchDir dir;
  makeClip(dir.file("whole.m4a"), "-f lavfi -i sine=r=44100:d=4 -c:a aac -movflags +faststart");
  makeClip(dir.file("whole.flac"), "-f lavfi -i anoisesrc=r=44100:d=4 -c:a flac");
  makeClip(dir.file("whole.mp3"), "-f lavfi -i sine=r=44100:d=30 -c:a libmp3lame");
  std::string m4a = readWholeFile(dir.file("whole.m4a"));
  std::string flac = readWholeFile(dir.file("whole.flac"));
  std::string mp3 = readWholeFile(dir.file("whole.mp3"));
  // The M4A cut in half (its index, at the front, still lists 4 s); the FLAC's middle
  // overwritten; the MP3 cut at 4.1 of its 30 s (a download that stopped).
  std::ofstream(dir.file("cut.m4a"), std::ios::binary) << m4a.substr(0, m4a.size() / 2);
  for (size_t i = flac.size() / 2; i < flac.size() / 2 + 4000; ++i) flac[i] = (char)(i * 131);
  std::ofstream(dir.file("damaged.flac"), std::ios::binary) << flac;
  std::ofstream(dir.file("cut.mp3"), std::ios::binary) << mp3.substr(0, mp3.size() * 41 / 300);
  // file; the first warning by default and the seconds kept (at least, below); the
  // error with --strict
  const struct {
    const char* name;
    const char* warns;
    double atLeast, below;
    const char* strictly;
  } cases[] = {
      // Past the cut the index points at nothing: the reading ends there.
      {"cut.m4a", "cut.m4a: damaged audio at 0:01.9 skipped (Invalid data found", 1.8, 2.1,
       "cut.m4a: damaged audio at 0:01.9: Invalid data found"},
      // The FLAC decoder finds its next frame after the overwritten bytes: all but a
      // few hundredths of the 4 s are kept.
      {"damaged.flac", "damaged.flac: damaged audio at 0:02.0 skipped (Invalid data found", 3.8,
       4.0, "damaged.flac: damaged audio at 0:02.0: Invalid data found"},
      {"cut.mp3", "cut.mp3: the audio stops at 0:04.1 of 0:30.0: the file is truncated; kept "
                  "what decodes", 4.0, 4.2,
       "cut.mp3: the audio stops at 0:04.1 of 0:30.0: the file is truncated"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool strict : {false, true}) {
      AudioDecoder decoder;
      decoder.setStrict(strict);
      std::string error;
      ASSERT_TRUE(decoder.open(dir.file(c.name), &error)) << error;
      AudioClip clip;
      readAll(&decoder, &clip);
      std::vector<std::string> warnings = decoder.takeWarnings();
      if (strict) {
        EXPECT_NE(decoder.error().find(c.strictly), std::string::npos) << decoder.error();
        EXPECT_TRUE(warnings.empty());
      } else {
        EXPECT_EQ(decoder.error(), "");
        ASSERT_FALSE(warnings.empty());
        EXPECT_NE(warnings[0].find(c.warns), std::string::npos) << warnings[0];
        EXPECT_GE(clip.seconds(), c.atLeast);
        EXPECT_LT(clip.seconds(), c.below);
        EXPECT_LE(warnings.size(), 3u);  // counted, not one line per bad packet
      }
    }
  }
}

TEST(Decoder, APipeIsReadAsAStreamThatOnlyGoesForward) {
  ScratchDir dir;
  makeClip(dir.file("song.flac"), "-f lavfi -i anoisesrc=r=22050:d=3 -c:a flac");
  AudioDecoder file;
  std::string error;
  ASSERT_TRUE(file.open(dir.file("song.flac"), &error)) << error;
  AudioClip whole;
  readAll(&file, &whole);
  ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
  // (what is written into the pipe, what the decoder says)
  const struct { const char* feed; const char* says; } cases[] = {
      {"cat song.flac", ""},                                   // reads as the file does
      {"true", "pipe: nothing came through the pipe"},         // the writer closed at once
      {"echo hello", "pipe: not an audio file (Invalid data"},  // something, but no audio
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.feed);
    std::string out;
    FILE* writer = popen(("cd '" + dir.path() + "' && " + c.feed + " > pipe").c_str(), "r");
    ASSERT_NE(writer, nullptr);
    AudioDecoder stream;
    bool opened = stream.open(dir.file("pipe"), &error);
    if (*c.says) {
      EXPECT_FALSE(opened);
      EXPECT_NE(error.find(dir.file(c.says)), std::string::npos) << error;
    } else {
      ASSERT_TRUE(opened) << error;
      EXPECT_TRUE(stream.isStream());
      // Forward "seeks" read on; back is refused by name.
      ASSERT_TRUE(stream.seek(22050, &error)) << error;
      EXPECT_FALSE(stream.seek(100, &error));
      EXPECT_NE(error.find("cannot go back to 0:00.0 in a stream"), std::string::npos) << error;
      AudioClip rest;
      readAll(&stream, &rest);
      ASSERT_EQ(rest.samples.size(), whole.samples.size() - 2 * 22050);
      EXPECT_TRUE(std::equal(rest.samples.begin(), rest.samples.end(),
                             whole.samples.begin() + 2 * 22050));
    }
    pclose(writer);
  }
  // Devices are no audio files, whatever they would give.
  for (const char* device : {"/dev/zero", "/dev/null", "/dev/full"}) {
    AudioDecoder decoder;
    EXPECT_FALSE(decoder.open(device, &error));
    EXPECT_EQ(error, std::string(device) + ": is a device, not an audio file");
  }
}

TEST(Decoder, SeeksThroughTheDemuxerToTheExactFrame) {
  ScratchDir dir;
  AudioClip tune;
  synthesiseDemoTune(6.0, &tune);
  std::string error;
  ASSERT_TRUE(writeWav(tune, dir.file("tune.wav"), &error)) << error;
  makeClip(dir.file("tune.flac"), "-i '" + dir.file("tune.wav") + "' -c:a flac");
  AudioDecoder whole;
  ASSERT_TRUE(whole.open(dir.file("tune.flac"), &error)) << error;
  AudioClip all;
  readAll(&whole, &all);
  ASSERT_EQ(all.frameCount(), tune.frameCount());
  // targets: the start, inside the first block, far in, backwards, the last frame
  for (int64_t target : {0L, 1000L, 200000L, 54321L, all.frameCount() - 1}) {
    SCOPED_TRACE(target);
    ASSERT_TRUE(whole.seek(target, &error)) << error;
    EXPECT_EQ(whole.position(), target);
    float got[64 * 2];
    int64_t n = whole.read(got, 64);
    ASSERT_EQ(n, std::min<int64_t>(64, all.frameCount() - target));
    EXPECT_EQ(memcmp(got, &all.samples[(size_t)target * 2], (size_t)n * 2 * sizeof(float)), 0);
  }
}

TEST(Decoder, WavFilesWrittenForTheTuneReadBack) {
  ScratchDir dir;
  AudioClip clip;
  clip.sampleRate = 8000;
  clip.streamChannels = 1;
  for (int i = 0; i < 4000; ++i) clip.samples.insert(clip.samples.end(), {i / 4000.0f, i / 4000.0f});
  std::string error;
  ASSERT_TRUE(writeWav(clip, dir.file("mono.wav"), &error)) << error;
  AudioDecoder decoder;
  ASSERT_TRUE(decoder.open(dir.file("mono.wav"), &error)) << error;
  EXPECT_EQ(decoder.streamChannels(), 1);
  AudioClip back;
  readAll(&decoder, &back);
  EXPECT_EQ(back.samples, clip.samples);
  EXPECT_FALSE(writeWav(clip, "/nonexistent/out.wav", &error));
  EXPECT_EQ(error.rfind("/nonexistent/out.wav: cannot write audio: ", 0), 0u) << error;
}

TEST(DemoTune, IsDeterministicAndItsBreakIsTrueSilence) {
  AudioClip a, b;
  synthesiseDemoTune(DEMO_TUNE_SECONDS, &a);
  synthesiseDemoTune(DEMO_TUNE_SECONDS, &b);
  ASSERT_EQ(a.samples, b.samples);
  EXPECT_EQ(a.sampleRate, 44100);
  EXPECT_EQ(a.frameCount(), (int64_t)(DEMO_TUNE_SECONDS * 44100));
  double loud = 0;
  float peak = 0;
  for (int64_t i = 0; i < a.frameCount(); ++i) {
    double t = (double)i / a.sampleRate;
    float l = a.samples[(size_t)i * 2], r = a.samples[(size_t)i * 2 + 1];
    if (t >= DEMO_SILENCE_START && t < DEMO_SILENCE_END) {
      ASSERT_EQ(l, 0.0f) << t;
      ASSERT_EQ(r, 0.0f) << t;
    }
    if (t < 8) loud += (double)l * l;
    peak = std::max(peak, std::max(fabsf(l), fabsf(r)));
  }
  EXPECT_GT(sqrt(loud / (8 * 44100)), 0.05);  // the groove is not quiet
  EXPECT_LE(peak, 0.9f);                        // and never clips
  // Longer tunes repeat the cycle, silence included.
  AudioClip longer;
  synthesiseDemoTune(60, &longer);
  size_t at = (size_t)((DEMO_TUNE_SECONDS + 11.5) * 44100) * 2;
  EXPECT_EQ(longer.samples[at], 0.0f);
}

TEST(AudioFeed, StreamedAnalysisEqualsTheWholeClipsFrameForFrame) {
  // The oracle is the in-memory path: decode all, cut the range, analyse each frame.
  ScratchDir dir;
  AudioClip tune;
  synthesiseDemoTune(4.0, &tune);
  std::string error;
  ASSERT_TRUE(writeWav(tune, dir.file("tune.wav"), &error)) << error;
  const std::string path = dir.file("tune.flac");
  makeClip(path, "-i '" + dir.file("tune.wav") + "' -c:a flac");
  AudioDecoder all;
  ASSERT_TRUE(all.open(path, &error)) << error;
  AudioClip whole;
  readAll(&all, &whole);
  const FrameClock clock = clockOf(25, whole.sampleRate);
  SpectrumAnalyser* probe = spectrumCreate(whole.sampleRate);
  const int length = spectrumWindowLength(probe);
  spectrumDestroy(probe);
  // range start, length: from the top; from inside, to past the end of the file
  const struct { int64_t first, count; } ranges[] = {{0, 44100}, {54321, 200000}};
  for (const auto& r : ranges) {
    SCOPED_TRACE(r.first);
    int64_t count = std::min(r.count, whole.frameCount() - r.first);
    AudioClip cut = whole;
    cut.samples.assign(whole.samples.begin() + r.first * 2,
                       whole.samples.begin() + (r.first + count) * 2);
    // The window straight from the clip, zeros outside it.
    std::vector<float> direct((size_t)length * 2);
    auto gather = [&](int64_t first) {
      for (int i = 0; i < length; ++i) {
        int64_t at = first + i;
        bool inside = at >= 0 && at < cut.frameCount();
        direct[(size_t)i * 2] = inside ? cut.samples[(size_t)at * 2] : 0.0f;
        direct[(size_t)i * 2 + 1] = inside ? cut.samples[(size_t)at * 2 + 1] : 0.0f;
      }
      return direct.data();
    };
    int64_t frames = clock.framesFor(count);
    // step 1: every frame; step 7: windows that leap ahead of all that was read
    for (int step : {1, 7}) {
      AudioDecoder stream;
      ASSERT_TRUE(stream.open(path, &error) && stream.seek(r.first, &error)) << error;
      AudioFeed feed(&stream, r.count);
      // One analyser per path: the automatic gain carries state from frame to frame.
      SpectrumAnalyser* a = spectrumCreate(whole.sampleRate);
      SpectrumAnalyser* b = spectrumCreate(whole.sampleRate);
      for (int64_t f = 0; f < frames; f += step) {
        unsigned char expected[2][SPECTRUM_BANDS], streamed[2][SPECTRUM_BANDS];
        FrameWindow w = clock.window(f, length);
        spectrumExecute(a, gather(w.first), w.begin, w.end, expected);
        spectrumExecute(b, feed.window(w.first, length), w.begin, w.end, streamed);
        ASSERT_EQ(memcmp(expected, streamed, sizeof expected), 0) << "frame " << f;
      }
      if (step == 1) {
        EXPECT_TRUE(feed.ended());
        EXPECT_EQ(feed.total(), count);
        EXPECT_EQ(stream.error(), "");
      }
      spectrumDestroy(a);
      spectrumDestroy(b);
    }
  }
}
