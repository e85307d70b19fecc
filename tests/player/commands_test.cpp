// The commands in-process, as main runs them: `render` of every kind of file into a
// PNG and an MP4, and the frame clock following the running module's own record.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <thread>
#include <vector>

#include "test_support.h"
#include "audio/demo_tune.h"
#include "base/signals.h"
#include "commands.h"
#include "output/output_file.h"
#include "vis_header.h"

namespace {
// A plug-in of the test's own, so that its settings file and any patch to its records
// stay here.
struct PluginCopy {
  ScratchDir dir;
  std::string path = dir.file("vis_orlim.so");
  PluginCopy() {
    std::string out;
    runCommand("cp '" VIS_PLUGIN_PATH "' '" + path + "'", &out);
  }
};

double seconds(const std::string& path) {
  return atof(probe(path, "format=duration").substr(9).c_str());
}

int videoFrames(const std::string& path) {
  std::string frames;
  runCommand("ffprobe -v error -count_frames -select_streams v -show_entries "
             "stream=nb_read_frames -of csv=p=0 '" + path + "'", &frames);
  return atoi(frames.c_str());
}

Options renderOptions(const PluginCopy& plugin, const std::string& audio, const std::string& out) {
  Options o;
  o.command = Command::Render;
  o.plugin = plugin.path;
  o.audio = audio;
  o.module = "Pellox";
  o.output = out;
  o.width = 64;
  o.height = 48;
  o.seeded = true;
  o.seed = 7;
  return o;
}
}  // namespace

TEST(RenderInProcess, EveryKindOfFileToPngAndMp4) {
  PluginCopy plugin;
  ScratchDir dir;
  // file, ffmpeg inputs and options, --from; each gives 1.5 s to render
  const struct { const char* name; const char* args; double from; } cases[] = {
      {"song.m4a", "-f lavfi -i sine=f=440:r=44100:d=1.5 -ac 2 -c:a aac", 0},
      // Long Opus, rendered past the 11 s where it used to break off.
      {"long.opus", "-f lavfi -i anoisesrc=r=48000:d=32 -c:a libopus", 30.5},
      {"x.mp3", "-f lavfi -i sine=f=440:r=44100:d=1.5 -c:a libmp3lame", 0},
      {"x.flac", "-f lavfi -i anoisesrc=r=44100:d=1.5 -c:a flac", 0},
      {"surround.wav", "-f lavfi -i anoisesrc=r=48000:d=1.5 -af 'pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0'", 0},
      {"hi.wav", "-f lavfi -i sine=f=1000:r=96000:d=1.5", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string audio = dir.file(c.name), out;
    ASSERT_EQ(runCommand(std::string("ffmpeg -nostdin -v error -y ") + c.args + " '" + audio + "'", &out), 0) << out;
    std::string error;
    Options png = renderOptions(plugin, audio, dir.file("shot.png"));
    png.from = c.from;
    png.at = c.from + 1;
    ASSERT_EQ(renderCommand(png, &error), 0) << error;
    EXPECT_EQ(probe(dir.file("shot.png"), "stream=width,height"), "width=64\nheight=48\n");
    Options video = renderOptions(plugin, audio, dir.file("clip.mp4"));
    video.from = c.from;
    ASSERT_EQ(renderCommand(video, &error), 0) << error;
    EXPECT_NEAR(seconds(dir.file("clip.mp4")), 1.5, 0.1);
    EXPECT_EQ(videoFrames(dir.file("clip.mp4")), 60);  // 1.5 s of 25 ms frames
    EXPECT_NE(probe(dir.file("clip.mp4"), "stream=codec_type").find("codec_type=audio"),
              std::string::npos);
    remove(dir.file("shot.png").c_str());
    remove(dir.file("clip.mp4").c_str());
  }
}

TEST(RenderInProcess, BandsLevelsAndSensitivityReachTheAnalyser) {
  // The same frame of the demo tune under each spectrum setting: each setting gives its
  // own picture, and the same setting the same bytes again.
  PluginCopy plugin;
  ScratchDir dir;
  const struct {
    const char* name;
    SpectrumLayout layout;
    double sensitivity;
    SpectrumLevels levels;
  } cases[] = {
      {"classic-auto", SpectrumLayout::Classic, 0, SpectrumLevels::Decibels},
      {"log", SpectrumLayout::Log, 0, SpectrumLevels::Decibels},
      {"classic-fixed", SpectrumLayout::Classic, 40, SpectrumLevels::Decibels},
      {"classic-linear", SpectrumLayout::Classic, 0, SpectrumLevels::Linear},
  };
  std::vector<std::string> shots;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    for (int run = 0; run < 2; ++run) {
      Options o = renderOptions(plugin, "", dir.file(c.name + std::to_string(run) + ".png"));
      o.module = "Zarvenn";
      o.at = 2;
      o.spectrum.layout = c.layout;
      o.spectrum.sensitivity = c.sensitivity;
      o.spectrum.levels = c.levels;
      ASSERT_EQ(renderCommand(o, &error), 0) << error;
      shots.push_back(readWholeFile(o.output));
    }
    EXPECT_EQ(shots[shots.size() - 2], shots.back());
  }
  EXPECT_NE(shots[0], shots[2]);
  EXPECT_NE(shots[0], shots[4]);
  EXPECT_NE(shots[2], shots[4]);
  EXPECT_NE(shots[0], shots[6]);
}

TEST(RenderInProcess, TheFrameClockFollowsTheModulesRecord) {
  PluginCopy plugin;
  // The test holds the plug-in loaded, so the record it patches is the one the
  // command's host finds when it loads the same library.
  void* library = dlopen(plugin.path.c_str(), RTLD_NOW);
  ASSERT_NE(library, nullptr) << dlerror();
  auto header = reinterpret_cast<VisHeader* (*)()>(dlsym(library, "winampVisGetHeader"))();
  VisModule* pellox = header->lookupModule(1);
  const int original = pellox->frameIntervalMillis;
  ScratchDir dir;
  // interval, frames in 1 s of the demo tune, the video's frame rate as ffprobe gives it
  const struct { int interval; int frames; const char* rate; } cases[] = {
      {50, 20, "20/1"},
      {30, 34, "100/3"},  // 33.3 per second; the last, partial frame still drawn
      {100, 10, "10/1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.interval);
    pellox->frameIntervalMillis = c.interval;
    std::string error;
    Options folder = renderOptions(plugin, "", dir.file("%03d.png"));
    folder.duration = 1;
    ASSERT_EQ(renderCommand(folder, &error), 0) << error;
    std::string listing = listFolder(dir.path());
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), c.frames) << listing;
    runCommand("rm -f '" + dir.path() + "'/*.png", &listing);

    ScratchDir videoDir;
    Options video = renderOptions(plugin, "", videoDir.file("v.mp4"));
    video.duration = 1;
    ASSERT_EQ(renderCommand(video, &error), 0) << error;
    EXPECT_NE(probe(videoDir.file("v.mp4"), "stream=r_frame_rate").find(c.rate), std::string::npos);
    EXPECT_EQ(videoFrames(videoDir.file("v.mp4")), c.frames);
  }
  // A record that asks for no interval at all is refused, not divided by.
  pellox->frameIntervalMillis = 0;
  std::string error;
  EXPECT_EQ(renderCommand(renderOptions(plugin, "", dir.file("x.png")), &error), 1);
  EXPECT_EQ(error, "module Pellox asks for a frame every 0 ms; a host can serve 1 to 1000 ms");
  EXPECT_EQ(listFolder(dir.path()), "");
  pellox->frameIntervalMillis = original;
  dlclose(library);
}

TEST(RenderInProcess, AFileThatTurnsBadKeepsWhatDecodesOrWithStrictLeavesNothing) {
  PluginCopy plugin;
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -f lavfi -i anoisesrc=r=44100:d=4 -c:a aac "
                       "-movflags +faststart '" + dir.file("whole.m4a") + "'", &out), 0) << out;
  std::string m4a = readWholeFile(dir.file("whole.m4a"));
  std::ofstream(dir.file("cut.m4a"), std::ios::binary) << m4a.substr(0, m4a.size() / 2);
  remove(dir.file("whole.m4a").c_str());
  // The audio decodes up to 1.9 s: 1.9 s at 40 frames a second, and a partial frame.
  for (bool strict : {true, false}) {
    ScratchDir frames;
    for (const std::string& output : {dir.file("cut.mp4"), frames.file("%06d.png")}) {
      SCOPED_TRACE(output + (strict ? " --strict" : ""));
      Options o = renderOptions(plugin, dir.file("cut.m4a"), output);
      o.strict = strict;
      o.overwrite = true;
      std::string error;
      EXPECT_EQ(renderCommand(o, &error), strict ? 1 : 0) << error;
      if (strict) {
        EXPECT_EQ(error, dir.file("cut.m4a") + ": damaged audio at 0:01.9: Invalid data found "
                                               "when processing input");
        EXPECT_EQ(listFolder(dir.path()), "cut.m4a\n");
        EXPECT_EQ(listFolder(frames.path()), "");
      } else if (output == frames.file("%06d.png")) {
        int count = 0;
        for (char ch : listFolder(frames.path())) count += ch == '\n';
        EXPECT_GE(count, 76);
        EXPECT_LE(count, 80);
      } else {
        EXPECT_NEAR(seconds(output), 1.95, 0.1);
      }
    }
  }
}

// A pipe is read once, into a scratch file of what was decoded; that is what ffmpeg
// muxes under the video (the pipe itself is long gone), and it goes with the run.
TEST(RenderInProcess, APipesAudioIsDecodedOnceAndMuxedFromWhatWasDecoded) {
  PluginCopy plugin;
  ScratchDir dir, scratch;
  std::string out;
  ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -f lavfi -i sine=f=1000:r=48000:d=3 -c:a flac '" +
                           dir.file("song.flac") + "'", &out), 0) << out;
  ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
  const std::string tmp = getenv("TMPDIR") ? getenv("TMPDIR") : "";
  setenv("TMPDIR", scratch.path().c_str(), 1);
  FILE* writer = popen(("cat '" + dir.file("song.flac") + "' > '" + dir.file("pipe") + "'").c_str(), "r");
  ASSERT_NE(writer, nullptr);
  Options o = renderOptions(plugin, dir.file("pipe"), dir.file("v.mp4"));
  o.from = 1;  // a pipe cannot seek; the kept file can
  std::string error;
  EXPECT_EQ(renderCommand(o, &error), 0) << error;
  close(open(dir.file("pipe").c_str(), O_RDONLY | O_NONBLOCK));  // frees a writer left waiting
  pclose(writer);
  if (tmp.empty()) unsetenv("TMPDIR");
  else setenv("TMPDIR", tmp.c_str(), 1);
  EXPECT_EQ(probe(dir.file("v.mp4"), "stream=codec_type,sample_rate"),
            "codec_type=video\ncodec_type=audio\nsample_rate=48000\n");
  EXPECT_NEAR(seconds(dir.file("v.mp4")), 2.0, 0.1);
  // The sound is the 1 kHz tone from 1 s on, not silence: ffmpeg measures its level.
  runCommand("ffmpeg -nostdin -i '" + dir.file("v.mp4") + "' -map 0:a -af volumedetect -f null - "
             "2>&1 | grep mean_volume", &out);
  double mean = atof(out.substr(out.find("mean_volume:") + 12).c_str());
  EXPECT_GT(mean, -30) << out;
  EXPECT_EQ(listFolder(scratch.path()), "");
}

TEST(RenderInProcess, ASignalStopsTheRenderWithTheShellsStatus) {
  PluginCopy plugin;
  ScratchDir programs;
  // An ffmpeg that takes no frames and shrugs off SIGTERM: the render blocks on it.
  std::string fake = programs.file("ffmpeg");
  std::ofstream(fake) << "#!/bin/sh\necho $$ > '" << fake << ".pid'\ntrap '' TERM\nexec sleep 600\n";
  chmod(fake.c_str(), 0755);
  const std::string path = getenv("PATH");
  setenv("PATH", (programs.path() + ":" + path).c_str(), 1);
  const std::string earlier = "frame_000001.png\nframe_000002.png\n";
  // output, the signal, sent while the render runs (else before it starts)
  const struct { const char* output; int signal; bool during; } cases[] = {
      {"frames/frame_%06d.png", SIGINT, false},  // over an earlier run's frames, with -y
      {"shot.png", SIGHUP, false},
      {"v.mp4", SIGTERM, true},   // waiting on ffmpeg: the grace period, then SIGKILL
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    ScratchDir dir;
    mkdir(dir.file("frames").c_str(), 0755);
    std::ofstream(dir.file("frames/frame_000001.png")) << "earlier run";
    std::ofstream(dir.file("frames/frame_000002.png")) << "earlier run";
    Options o = renderOptions(plugin, "", dir.file(c.output));
    o.width = 320;
    o.height = 240;
    o.overwrite = true;  // -y: without it the frames are refused before anything runs
    installInterruptHandler();
    if (!c.during) raise(c.signal);
    std::thread signaller([&] {
      if (c.during) usleep(300000);
      if (c.during) kill(getpid(), c.signal);
    });
    std::string error;
    EXPECT_EQ(renderCommand(o, &error), 128 + c.signal);
    signaller.join();
    EXPECT_EQ(error, "interrupted; " + dir.file(c.output) + " was not written");
    for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
    clearInterrupt();
    EXPECT_EQ(listFolder(dir.path()), "frames\n");
    EXPECT_EQ(listFolder(dir.file("frames")), earlier);
    EXPECT_EQ(readWholeFile(dir.file("frames/frame_000002.png")), "earlier run");
  }
  setenv("PATH", path.c_str(), 1);
  pid_t pid = atoi(readWholeFile(fake + ".pid").c_str());
  if (pid > 0) {
    EXPECT_TRUE(kill(pid, 0) == -1 && errno == ESRCH) << "ffmpeg left running";
  }
}

TEST(RenderInProcess, RefusesToWriteOverItsInputByAnyName) {
  PluginCopy plugin;
  ScratchDir dir, links;
  std::string out;
  const std::string song = dir.file("song.mp4");
  ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -f lavfi -i sine=f=440:r=44100:d=0.5 -c:a aac '" +
                           song + "'", &out), 0) << out;
  ASSERT_EQ(symlink(song.c_str(), dir.file("link.mp4").c_str()), 0);
  ASSERT_EQ(link(song.c_str(), dir.file("hard.mkv").c_str()), 0);
  ASSERT_EQ(symlink(dir.path().c_str(), links.file("folder").c_str()), 0);
  const std::string bytes = readWholeFile(song), listing = listFolder(dir.path());
  // audio, output: one file under two names
  const struct { std::string audio, output; } cases[] = {
      {song, song},
      {song, dir.path() + "/./song.mp4"},
      {song, dir.file("link.mp4")},      // a symbolic link to the input
      {dir.file("link.mp4"), song},      // the input given through the link
      {song, dir.file("hard.mkv")},      // a hard link
      {song, links.file("folder/song.mp4")},  // through a linked folder
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    std::string error;
    EXPECT_EQ(renderCommand(renderOptions(plugin, c.audio, c.output), &error), 1);
    EXPECT_EQ(error, c.output + ": is the input file " + c.audio + "; choose another output");
    EXPECT_EQ(readWholeFile(song), bytes);
    EXPECT_EQ(listFolder(dir.path()), listing);
  }
}

TEST(RenderInProcess, ABatchNeverWritesOverOneOfItsInputs) {
  PluginCopy plugin;
  ScratchDir dir, other, links;
  AudioClip clip;
  synthesiseDemoTune(0.5, &clip);
  std::string error;
  ASSERT_TRUE(writeWav(clip, dir.file("song.wav"), &error)) << error;
  ASSERT_TRUE(writeWav(clip, dir.file("song.mp4"), &error)) << error;  // audio, by any name
  ASSERT_TRUE(writeWav(clip, dir.file("tune.wav"), &error)) << error;
  ASSERT_EQ(link(dir.file("song.mp4").c_str(), other.file("kept.m4a").c_str()), 0);
  ASSERT_EQ(symlink(dir.path().c_str(), links.file("folder").c_str()), 0);
  const std::string bytes = readWholeFile(dir.file("song.mp4")), listing = listFolder(dir.path());
  // inputs, output folder, the clash named: an output of the batch that is one of its
  // inputs, whatever the order and the names
  const struct { const char* note; std::vector<std::string> inputs; std::string folder, clash; }
      cases[] = {
          {"the clashing input comes after the one whose output it is",
           {dir.file("song.wav"), dir.file("song.mp4")}, dir.path(), "song.wav"},
          {"the clashing input comes first: its own output is itself",
           {dir.file("song.mp4"), dir.file("song.wav")}, dir.path(), "is the input file"},
          {"among others, through a linked folder",
           {dir.file("tune.wav"), dir.file("song.wav"), dir.file("song.mp4")},
           links.file("folder"), "song.wav"},
          {"the input is a hard link of the output, in another folder",
           {dir.file("tune.wav"), dir.file("song.wav"), other.file("kept.m4a")}, dir.path(),
           "song.wav"},
      };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    Options o = renderOptions(plugin, c.inputs[0], c.folder);
    o.inputs = c.inputs;
    o.overwrite = true;  // -y: the clash is refused even so
    error.clear();
    EXPECT_EQ(renderCommand(o, &error), 1);
    const std::string output = c.folder + "/song.mp4";
    EXPECT_EQ(error.rfind(output + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.clash), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    // Nothing written at all: the input intact, no other video made.
    EXPECT_EQ(readWholeFile(dir.file("song.mp4")), bytes);
    EXPECT_EQ(listFolder(dir.path()), listing);
  }
}

TEST(RenderInProcess, ADurationBeyondAnyTrackRendersTheWholeTrack) {
  // The command line refuses such times; the session holds without it: 1e15 s in
  // samples is past 64 bits, and once came out as a render of one frame.
  PluginCopy plugin;
  ScratchDir dir, frames;
  AudioClip second;
  synthesiseDemoTune(1.0, &second);
  std::string error;
  ASSERT_TRUE(writeWav(second, dir.file("one.wav"), &error)) << error;
  for (double duration : {1e15, 1e300}) {
    SCOPED_TRACE(duration);
    Options o = renderOptions(plugin, dir.file("one.wav"), frames.file("%06d.png"));
    o.duration = duration;
    ASSERT_EQ(renderCommand(o, &error), 0) << error;
    std::string listing = listFolder(frames.path());
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 40) << listing;  // 1 s of 25 ms
    runCommand("rm -f '" + frames.path() + "'/*.png", &listing);
  }
}

TEST(RenderInProcess, AFolderOrPlaylistRendersEachOfItsFiles) {
  PluginCopy plugin;
  ScratchDir dir, videos;
  std::string out;
  mkdir(dir.file("album").c_str(), 0755);
  for (const char* name : {"2 two.wav", "10 ten.flac"}) {
    ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -f lavfi -i sine=d=0.3 '" +
                         dir.file("album/") + name + "'", &out), 0) << out;
  }
  std::ofstream(dir.file("album/cover.jpg")) << "not audio";
  std::ofstream(dir.file("list.m3u")) << "album/10 ten.flac\n";
  Options o = renderOptions(plugin, "", videos.path() + "/");
  o.inputs = {dir.file("album"), dir.file("list.m3u")};
  std::string error;
  // Three inputs, the playlist's the same file as the folder's second: its output is
  // refused as an earlier input's, the rest written.
  EXPECT_EQ(renderCommand(o, &error), 1);
  EXPECT_EQ(error, "1 of 3 inputs failed");
  EXPECT_EQ(listFolder(videos.path()), "10 ten.mp4\n2 two.mp4\n");
  // A folder of several files needs a folder to write to: a usage error.
  o = renderOptions(plugin, "", dir.file("one.mp4"));
  o.inputs = {dir.file("album")};
  EXPECT_EQ(renderCommand(o, &error), EXIT_USAGE);
  EXPECT_EQ(error, "render: several inputs (" + dir.file("album/2 two.wav") + ", " +
                       dir.file("album/10 ten.flac") + ") need -o FOLDER/, not " + dir.file("one.mp4"));
}

namespace {
// A PNG's pixels as RGB bytes, decoded by ffmpeg.
std::string rgbOf(const std::string& png) {
  std::string raw = png + ".rgb", out;
  runCommand("ffmpeg -nostdin -v error -y -i '" + png + "' -f rawvideo -pix_fmt rgb24 '" + raw + "'",
             &out);
  return readWholeFile(raw);
}
}  // namespace

TEST(RenderInProcess, AScaledFrameIsTheDrawingInBlocksAndVideosTakeTheirOwnRate) {
  PluginCopy plugin;
  ScratchDir dir;
  // output, --scale, the drawing it makes (rendered on its own for comparison)
  const struct { int w, h, scale, dw, dh; } cases[] = {
      {128, 96, 2, 64, 48},
      {130, 97, 2, 65, 49},   // odd sides: the last drawn column and row half shown
      {200, 150, 3, 67, 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " by " + std::to_string(c.scale));
    std::string error;
    Options big = renderOptions(plugin, "", dir.file("big.png"));
    big.width = c.w;
    big.height = c.h;
    big.scale = c.scale;
    big.at = 2;
    big.overwrite = true;
    ASSERT_EQ(renderCommand(big, &error), 0) << error;
    Options small = big;
    small.output = dir.file("small.png");
    small.width = c.dw;
    small.height = c.dh;
    small.scale = 1;
    ASSERT_EQ(renderCommand(small, &error), 0) << error;
    const std::string a = rgbOf(big.output), b = rgbOf(small.output);
    ASSERT_EQ(a.size(), (size_t)c.w * c.h * 3);
    ASSERT_EQ(b.size(), (size_t)c.dw * c.dh * 3);
    // Every output pixel is the drawn pixel of its block.
    int wrong = 0, lit = 0;
    for (int y = 0; y < c.h; ++y) {
      for (int x = 0; x < c.w; ++x) {
        const size_t o = ((size_t)y * c.w + x) * 3, d = ((size_t)(y / c.scale) * c.dw + x / c.scale) * 3;
        wrong += a.compare(o, 3, b, d, 3) != 0;
        lit += a.compare(o, 3, a, 0, 3) != 0;
      }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(lit, c.w * c.h / 100);  // the frame holds a picture, not one colour
  }
  // A scaled video is the output's size; --fps gives its rate, frames repeated or dropped.
  const struct { int num, den; const char* rate; int frames; } rates[] = {
      {0, 1, "40/1", 40},             // the module's own
      {30, 1, "30/1", 30},
      {60, 1, "60/1", 60},
      {30000, 1001, "30000/1001", 30},
  };
  for (const auto& r : rates) {
    SCOPED_TRACE(r.rate);
    std::string error;
    Options video = renderOptions(plugin, "", dir.file("v.mp4"));
    video.width = 128;
    video.height = 96;
    video.scale = 2;
    video.duration = 1;
    video.overwrite = true;
    video.fpsNumerator = r.num;
    video.fpsDenominator = r.den;
    ASSERT_EQ(renderCommand(video, &error), 0) << error;
    // The video stream first, then the audio's.
    const std::string streams = probe(video.output, "stream=width,height,r_frame_rate");
    EXPECT_EQ(streams.rfind(std::string("width=128\nheight=96\nr_frame_rate=") + r.rate + "\n", 0),
              0u) << streams;
    EXPECT_EQ(videoFrames(video.output), r.frames);
  }
}
