// Decoding through libsndfile and the demo tune.
#include <math.h>
#include <sndfile.h>

#include <gtest/gtest.h>

#include "../test_support.h"
#include "audio/audio_clip.h"
#include "audio/audio_stream.h"
#include "audio/demo_tune.h"
#include "spectrum/analyser.h"

namespace {
// Writes `frames` frames of a channel-numbered ramp: channel c holds (c + 1) / 10.
bool writeFile(const std::string& path, int format, int rate, int channels, int frames) {
  SF_INFO info = {};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return false;
  std::vector<float> data((size_t)frames * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) data[(size_t)i * channels + c] = (c + 1) / 10.0f;
  sf_writef_float(f, data.data(), frames);
  sf_close(f);
  return true;
}
}  // namespace

TEST(Audio, DecodesFormatsRatesAndChannelCounts) {
  ScratchDir dir;
  // file, format, rate, channels; lossy formats are checked for length and rate only.
  const struct { const char* name; int format; int rate; int channels; bool exact; } cases[] = {
      {"mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, true},     // doubled
      {"stereo.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, true},
      {"surround.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 6, true},  // first two kept
      {"x.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 96000, 2, true},
      {"x.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, false},
      {"x.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 2, false},
      {"x.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.file(c.name);
    ASSERT_TRUE(writeFile(path, c.format, c.rate, c.channels, c.rate)) << sf_strerror(nullptr);
    AudioClip clip;
    std::string error;
    ASSERT_TRUE(loadAudioFile(path, &clip, &error)) << error;
    EXPECT_EQ(clip.sampleRate, c.rate);
    EXPECT_EQ(clip.streamChannels, c.channels);
    EXPECT_NEAR(clip.seconds(), 1.0, 0.1);
    if (c.exact) {
      size_t mid = (size_t)clip.frameCount() / 2 * 2;
      EXPECT_NEAR(clip.samples[mid], 0.1f, 1e-3);
      EXPECT_NEAR(clip.samples[mid + 1], c.channels == 1 ? 0.1f : 0.2f, 1e-3);
    }
  }
}

TEST(Audio, BadFilesNameThePathAndLibsndfilesReason) {
  ScratchDir dir;
  std::string garbage = dir.file("garbage.wav");
  FILE* f = fopen(garbage.c_str(), "wb");
  fputs("RIFF this is not really a wave file at all", f);
  fclose(f);
  std::string empty = dir.file("empty.flac");
  fclose(fopen(empty.c_str(), "wb"));
  const char* cases[] = {"/nonexistent/song.wav", garbage.c_str(), empty.c_str()};
  for (const char* path : cases) {
    AudioClip clip;
    std::string error;
    EXPECT_FALSE(loadAudioFile(path, &clip, &error)) << path;
    EXPECT_EQ(error.find(path), 0u) << error;
    EXPECT_GT(error.size(), strlen(path) + 20) << error;  // a reason follows
  }
}

TEST(Audio, WavRangesKeepTheStreamShape) {
  ScratchDir dir;
  AudioClip clip;
  std::string error;
  ASSERT_TRUE(writeFile(dir.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 8000));
  ASSERT_TRUE(loadAudioFile(dir.file("in.wav"), &clip, &error)) << error;
  ASSERT_TRUE(writeWavRange(clip, 2000, 4000, dir.file("out.wav"), &error)) << error;
  SF_INFO info = {};
  SNDFILE* f = sf_open(dir.file("out.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(info.frames, 4000);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.samplerate, 8000);
  sf_close(f);
  EXPECT_FALSE(writeWavRange(clip, 0, 10, "/nonexistent/out.wav", &error));
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

TEST(AudioStream, StreamedAnalysisEqualsTheWholeClipsTickForTick) {
  // The oracle is the in-memory path: decode all, cut the range, analyse each tick.
  ScratchDir dir;
  AudioClip tune;
  synthesiseDemoTune(4.0, &tune);
  std::string error;
  const std::string path = dir.file("tune.flac");
  {
    // FLAC through libsndfile, so that the stream really decodes and seeks.
    SF_INFO info = {};
    info.samplerate = tune.sampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_writef_float(f, tune.samples.data(), tune.frameCount());
    sf_close(f);
  }
  AudioClip whole;
  ASSERT_TRUE(loadAudioFile(path, &whole, &error)) << error;
  // range start, length: from the top; from inside, to past the end of the file
  const struct { int64_t first, count; } ranges[] = {{0, 44100}, {54321, 200000}};
  for (const auto& r : ranges) {
    SCOPED_TRACE(r.first);
    int64_t count = std::min(r.count, whole.frameCount() - r.first);
    AudioClip cut = whole;
    cut.samples.assign(whole.samples.begin() + r.first * 2,
                       whole.samples.begin() + (r.first + count) * 2);
    AudioStream stream;
    ASSERT_TRUE(stream.open(path, &error)) << error;
    EXPECT_EQ(stream.frames(), whole.frameCount());
    ASSERT_TRUE(stream.select(r.first, r.count, &error)) << error;
    AudioFeed feed(&stream);
    // One analyser per path: the automatic gain carries state from frame to frame.
    SpectrumAnalyser* a = spectrumCreate(whole.sampleRate);
    SpectrumAnalyser* b = spectrumCreate(whole.sampleRate);
    int64_t ticks = (count * 40 + whole.sampleRate - 1) / whole.sampleRate;
    for (int64_t t = 0; t < ticks; ++t) {
      unsigned char expected[2][SPECTRUM_BANDS], streamed[2][SPECTRUM_BANDS];
      spectrumAnalyseTick(a, cut, t, expected);
      int64_t first;
      int begin, end;
      spectrumTickWindow(b, t, whole.sampleRate, &first, &begin, &end);
      spectrumExecute(b, feed.window(first, spectrumWindowLength(b)), begin, end, streamed);
      ASSERT_EQ(memcmp(expected, streamed, sizeof expected), 0) << "tick " << t;
    }
    EXPECT_TRUE(feed.ended());
    EXPECT_EQ(feed.total(), count);
    EXPECT_EQ(stream.error(), "");

    // Windows that leap ahead of all that was read (every 7th tick: 175 ms > 93 ms).
    AudioStream again;
    ASSERT_TRUE(again.open(path, &error) && again.select(r.first, r.count, &error)) << error;
    AudioFeed leaping(&again);
    for (int64_t t = 0; t < ticks; t += 7) {
      unsigned char expected[2][SPECTRUM_BANDS], streamed[2][SPECTRUM_BANDS];
      spectrumAnalyseTick(a, cut, t, expected);
      int64_t first;
      int begin, end;
      spectrumTickWindow(b, t, whole.sampleRate, &first, &begin, &end);
      spectrumExecute(b, leaping.window(first, spectrumWindowLength(b)), begin, end, streamed);
      ASSERT_EQ(memcmp(expected, streamed, sizeof expected), 0) << "leaping to tick " << t;
    }
    spectrumDestroy(a);
    spectrumDestroy(b);
  }
}
