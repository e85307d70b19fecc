// `orlimvis render` and `list` end to end: the program as a user runs it, its outputs
// probed with ffprobe and read back, and every bad input refused with one line.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace {
const std::string kProgram = ORLIMVIS_BINARY;

// A copy of the plug-in for renders, so that the settings file it writes beside itself
// is this test's, not the one beside the build's plug-in.
const std::string& pluginCopy() {
  static ScratchDir dir;
  static std::string path;
  if (path.empty()) {
    path = dir.file("vis_orlim.so");
    std::string out;
    runCommand("cp '" VIS_PLUGIN_PATH "' '" + path + "'", &out);
  }
  return path;
}

// Runs orlimvis with the arguments; stdout and stderr are kept apart. A render gets the
// plug-in copy first (a later --plugin in args still wins).
int orlimvis(std::string args, std::string* err, std::string* out = nullptr,
             const std::string& env = "") {
  if (args.rfind("render ", 0) == 0) args.insert(7, "--plugin '" + pluginCopy() + "' ");
  ScratchDir logs;
  std::string command = env + " '" + kProgram + "' " + args + " >'" + logs.file("out") +
                        "' 2>'" + logs.file("err") + "'";
  std::string ignored;
  int status = runCommand("{ " + command + "; }", &ignored);
  *err = readWholeFile(logs.file("err"));
  if (out) *out = readWholeFile(logs.file("out"));
  return status;
}

int lines(const std::string& text) { return (int)std::count(text.begin(), text.end(), '\n'); }
}  // namespace

TEST(Render, ListShowsTheHeaderAndModules) {
  std::string err, out;
  ASSERT_EQ(orlimvis("list", &err, &out), 0) << err;
  EXPECT_EQ(out,
            "Orlim's Visualizations Volume 1\n  0  Zarvenn\n  1  Pellox\n  2  Ambrith\n"
            "  3  Tovanel\n");
}

TEST(Render, PngSnapshotIsByteIdenticalForTheSameSeed) {
  ScratchDir dir;
  std::string err;
  const std::string common = " -m Pellox --size 160x120 --at 3 --seed 42 -o ";
  // Into a log (stderr not a terminal) the closing line still comes; -q keeps it back.
  ASSERT_EQ(orlimvis("render" + common + dir.file("a.png"), &err), 0) << err;
  EXPECT_EQ(err.rfind("orlimvis: wrote " + dir.file("a.png") + " (", 0), 0u) << err;
  EXPECT_EQ(lines(err), 1) << err;
  ASSERT_EQ(orlimvis("render -q" + common + dir.file("b.png"), &err), 0) << err;
  EXPECT_EQ(err, "");
  std::string a = readWholeFile(dir.file("a.png")), b = readWholeFile(dir.file("b.png"));
  ASSERT_GT(a.size(), 100u);
  EXPECT_EQ(a, b);
  std::string v = probe(dir.file("a.png"), "stream=width,height");
  EXPECT_EQ(v, "width=160\nheight=120\n");
  // Another seed reaches the plug-in's generator: other colours, other bytes.
  ASSERT_EQ(orlimvis("render -v -m Pellox --size 160x120 --at 3 --seed 43 -o " + dir.file("c.png"),
                     &err),
            0)
      << err;
  // -v says first what is rendered.
  EXPECT_EQ(err.rfind("orlimvis: the demo tune (44100 Hz, 2 channels, 00:00:24.00) with Pellox, "
                      "drawn at 160x120, 40 frames a second, to " + dir.file("c.png") + "\n", 0),
            0u) << err;
  EXPECT_NE(readWholeFile(dir.file("c.png")), a);
  EXPECT_EQ(listFolder(dir.path()), "a.png\nb.png\nc.png\n");
}

TEST(Render, ProgressLineOnATerminal) {
  // script(1) gives the program a terminal; the line is redrawn with carriage returns.
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(runCommand("script -qfec \"'" + kProgram + "' render -m Tovanel --duration 1 --plugin '" + pluginCopy() + "' "
                       "--size 64x64 -o '" + dir.file("t.png") + "' --at 0.9\" /dev/null",
                       &out),
            0)
      << out;
  // 37 frames of 25 ms: 0.925 s, shown to the hundredth as ffmpeg's time= is.
  EXPECT_NE(out.find("\rorlimvis: 100%  00:00:00.93/00:00:00.93  speed="), std::string::npos)
      << out;
  EXPECT_NE(out.find("x  00:00:00 left"), std::string::npos) << out;
  EXPECT_NE(out.find("orlimvis: wrote " + dir.file("t.png") + " ("), std::string::npos) << out;
  EXPECT_NE(out.find(" KiB)"), std::string::npos) << out;

  // Several inputs with long names on a terminal 72 columns wide: every line drawn stays
  // within 71 columns, the names shortened in the middle (the start and end kept).
  const std::string name = "A Rather Long Name For A Track Of An Album (Remastered 2026)";
  for (const char* n : {"1", "2"}) {
    ASSERT_EQ(orlimvis("tune '" + dir.file(n + (" " + name) + ".wav") + "' --duration 0.5", &out),
              0) << out;
  }
  mkdir(dir.file("videos").c_str(), 0755);
  ASSERT_EQ(runCommand("script -qfec \"stty cols 72; '" + kProgram + "' render -m Pellox --plugin '" +
                       pluginCopy() + "' --size 64x48 -o '" + dir.file("videos") + "/' '" +
                       dir.file("1 " + name) + ".wav' '" + dir.file("2 " + name) + ".wav'\" /dev/null",
                       &out),
            0)
      << out;
  int drawn = 0;
  std::string line;
  for (char c : out + "\n") {
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    size_t clear = line.find("\033[K");
    if (clear != std::string::npos) line.erase(clear);
    if (line.find("orlimvis: [") == 0) {
      ++drawn;
      EXPECT_LT(line.size(), 72u) << line;
      EXPECT_NE(line.find("/tmp/"), std::string::npos) << line;           // the start...
      EXPECT_NE(line.find("..."), std::string::npos) << line;            // ...not all...
      EXPECT_NE(line.find("2026).wav "), std::string::npos) << line;     // ...and the end
    }
    line.clear();
  }
  EXPECT_GE(drawn, 2) << out;  // at least the last of each input
}

TEST(Render, Mp4HasTheRangesDurationFrameRateSizeAndAudio) {
  ScratchDir dir;
  std::string err;
  ASSERT_EQ(orlimvis("render -m Zarvenn --from 9 --duration 2.5 --size 200x150 --seed 1 -o " +
                         dir.file("clip.mp4"),
                     &err),
            0)
      << err;
  std::string streams = probe(dir.file("clip.mp4"),
                              "stream=codec_type,codec_name,width,height,r_frame_rate");
  EXPECT_NE(streams.find("codec_name=h264"), std::string::npos) << streams;
  EXPECT_NE(streams.find("width=200\nheight=150"), std::string::npos) << streams;
  EXPECT_NE(streams.find("r_frame_rate=40/1"), std::string::npos) << streams;
  EXPECT_NE(streams.find("codec_type=audio"), std::string::npos) << streams;
  double seconds = atof(probe(dir.file("clip.mp4"), "format=duration").substr(9).c_str());
  EXPECT_NEAR(seconds, 2.5, 0.1);
  std::string frames;
  runCommand("ffprobe -v error -count_frames -select_streams v -show_entries "
             "stream=nb_read_frames -of csv=p=0 '" + dir.file("clip.mp4") + "'",
             &frames);
  EXPECT_EQ(frames, "100\n");  // 2.5 s at one frame per 25 ms
  // The seed pins the pictures and the encoders are deterministic: the same file again.
  ASSERT_EQ(orlimvis("render -m Zarvenn --from 9 --duration 2.5 --size 200x150 --seed 1 -o " +
                         dir.file("again.mp4"),
                     &err),
            0)
      << err;
  EXPECT_EQ(readWholeFile(dir.file("again.mp4")), readWholeFile(dir.file("clip.mp4")));
  EXPECT_EQ(listFolder(dir.path()), "again.mp4\nclip.mp4\n");
}

TEST(Render, VideoOfAFileCarriesTheSameRangeOfThatFile) {
  ScratchDir dir;
  std::string err, out;
  // A name ffmpeg would take for a protocol, were it not passed as a file.
  std::string song = dir.file("mix:one.wav");
  ASSERT_EQ(orlimvis("tune '" + song + "' --duration 6", &err, &out), 0) << err;
  ASSERT_EQ(orlimvis("render '" + song + "' -m Pellox --from 2 --duration 1.5 --size 96x64 -o '" +
                         dir.file("v:1.mkv") + "'",
                     &err),
            0)
      << err;
  std::string audio;
  runCommand("ffprobe -v error -select_streams a -show_entries stream=duration,channels "
             "-of default=noprint_wrappers=1 '" + dir.file("v:1.mkv") + "'", &audio);
  EXPECT_NE(audio.find("channels=2"), std::string::npos) << audio;
  double seconds = atof(probe("file:" + dir.file("v:1.mkv"), "format=duration").substr(9).c_str());
  EXPECT_NEAR(seconds, 1.5, 0.1);
  EXPECT_EQ(listFolder(dir.path()), "mix:one.wav\nv:1.mkv\n");
}

TEST(Render, APatternGetsNumberedFramesAndAFolderAVideo) {
  ScratchDir dir, videos;
  std::string err;
  ASSERT_EQ(orlimvis("render -m Ambrith --duration 0.25 --size 64x48 -o " + dir.file("f%03d.png"),
                     &err), 0) << err;
  std::string expected;
  for (int i = 1; i <= 10; ++i) {
    char name[32];
    snprintf(name, sizeof name, "f%03d.png\n", i);
    expected += name;
  }
  EXPECT_EQ(listFolder(dir.path()), expected);
  // Into a log: the closing line alone, for so short a run.
  EXPECT_EQ(err.rfind("orlimvis: wrote 10 frames as " + dir.file("f%03d.png") + " (", 0), 0u) << err;
  EXPECT_EQ(lines(err), 1) << err;
  // One input and a folder: a video in it, named for the input, in --format's container.
  ASSERT_EQ(orlimvis("tune " + dir.file("song.wav") + " --duration 0.5", &err), 0) << err;
  ASSERT_EQ(orlimvis("render " + dir.file("song.wav") + " -m 1 --size 64x48 --format mkv -o " +
                         videos.path(), &err), 0) << err;
  EXPECT_EQ(listFolder(videos.path()), "song.mkv\n");
  EXPECT_EQ(probe(videos.file("song.mkv"), "format=format_name"), "format_name=matroska,webm\n");
  // Names that say nothing clear are refused with what they should say.
  const struct { std::string out; const char* says; } bad[] = {
      {dir.file("f%d%d.png"), "a frames pattern has one %d or %06d and ends in .png"},
      {dir.file("f%s.png"), "a frames pattern has one %d or %06d"},
      {dir.file("f%06d.jpg"), "a frames pattern has one %d or %06d"},
  };
  for (const auto& c : bad) {
    EXPECT_EQ(orlimvis("render -m 1 --duration 0.1 -o " + c.out, &err), 1) << c.out;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_EQ(lines(err), 1) << err;
  }
  // Options the output cannot take are usage errors.
  EXPECT_EQ(orlimvis("render -m 1 --duration 0.1 --format webm -o " + dir.file("x.mp4"), &err), 2);
  EXPECT_NE(err.find("--format: only for a folder output"), std::string::npos) << err;
  EXPECT_EQ(orlimvis("render -m 1 --duration 0.1 --fps 30 -o " + dir.file("x.png"), &err), 2);
  EXPECT_NE(err.find("--fps is only for a video output"), std::string::npos) << err;
}

TEST(Render, EachBadInputGetsOneLineAndLeavesNothing) {
  ScratchDir dir;
  std::string garbage = dir.file("garbage.wav");
  std::ofstream(garbage) << "RIFF....WAVEfmt garbage that is not audio";
  std::string notPlugin = dir.file("not-a-plugin.so");
  std::ofstream(notPlugin) << "text";
  std::string platform;
  runCommand("ldd '" VIS_PLUGIN_PATH "' | awk '/libvisplatform/ {printf \"%s\", $3}'",
             &platform);
  std::string out = dir.file("out.mp4");
  // arguments, what runs before (environment, a pipe), words the one line must contain,
  // exit status (2: the command line cannot be used, 1: the run failed)
  const struct { std::string args, env, says; int status; } cases[] = {
      {"/nonexistent/song.flac -m Pellox -o " + out, "", "/nonexistent/song.flac", 1},
      {"'/nonexistent/two\nlines.flac' -m Pellox -o " + out, "", "/nonexistent/two?lines.flac", 1},
      {garbage + " -m Pellox -o " + out, "", "garbage.wav: not an audio file", 1},
      {"-m Foo -o " + out, "", "Zarvenn, Pellox, Ambrith, Tovanel", 2},
      {"-m Pellox --size 0x0 -o " + out, "", "--size 0x0", 2},
      {"-m Pellox --size abc -o " + out, "", "--size abc", 2},
      {"-m Pellox --size 9000x100 -o " + out, "", "8192", 2},
      {"-m Pellox --size=9000x100 -o " + out, "", "8192", 2},
      {"-m Pellox --bogus=3 -o " + out, "", "unknown option --bogus", 2},
      {"-m Pellox --strict=1 -o " + out, "", "--strict takes no value", 2},
      {"-m Pellox -o /nonexistent/dir/out.mp4", "", "/nonexistent/dir: output folder does not exist", 1},
      {"-m Pellox -o /nonexistent/dir/", "", "/nonexistent/dir/: output folder does not exist", 1},
      {"-m Pellox -o /proc/orlimvis-test.png", "", "/proc/orlimvis-test.png: cannot be written", 1},
      {"-m Pellox -o /dev/full", "", "/dev/full: is a device; -o takes a file, a folder", 1},
      {"-m Pellox -o " + out, "PATH=/nonexistent", "ffmpeg", 1},
      {"-m Pellox --plugin " + notPlugin + " -o " + out, "", "cannot load plug-in", 1},
      {"-m Pellox --plugin " + dir.file("nothing.so") + " -o " + out, "", "nothing.so", 1},
      {"-m Pellox --plugin " + platform + " -o " + out, "", "no winampVisGetHeader", 1},
      {"-m Pellox --from 30 -o " + out, "", "beyond the end", 1},
      {"-m Pellox --at 2 -o " + out, "", "--at", 2},
      {"-m Pellox -o " + dir.file("out.avi"), "", "unknown output type", 1},
      // Inputs named as what they are, not "empty" or "not audio".
      {"/dev/zero -m Pellox -o " + out, "", "/dev/zero: is a device, not an audio file", 1},
      {"- -m Pellox -o " + out, "true |", "standard input: nothing came through the pipe", 1},
      {"- -m Pellox -o " + out, "echo words |", "standard input: not an audio file", 1},
      {"/sys -m Pellox -o " + out, "", "/sys: no audio files in the folder", 1},
  };
  for (const auto& c : cases) {
    std::string err;
    int status = orlimvis("render " + c.args, &err, nullptr, c.env);
    EXPECT_EQ(status, c.status) << c.args;
    EXPECT_EQ(lines(err), 1) << c.args << "\n" << err;
    EXPECT_EQ(err.rfind("orlimvis: ", 0), 0u) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << c.args << "\n" << err;
    EXPECT_EQ(listFolder(dir.path()), "garbage.wav\nnot-a-plugin.so\n") << c.args;
  }
}

// Input from a pipe, a name that starts with '-', an odd size for a video: each works,
// with a note where the output is not quite what was asked.
TEST(Render, InputsAsUsersGiveThemAndAnOddSizeWithANote) {
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -f lavfi -i sine=r=44100:d=2 '" +
                       dir.file("-song.flac") + "'", &out), 0) << out;
  std::string err;
  EXPECT_EQ(orlimvis("render -m Pellox --size=641x481 --duration=1 -o " + dir.file("odd.mp4") +
                     " -- " + dir.file("-song.flac"), &err), 0) << err;
  // The note, then (standard error being no terminal) the closing line.
  EXPECT_EQ(err.rfind("orlimvis: note: 641x481: MP4 video in 4:2:0 needs even sides; it is 642x482, "
                      "with a black line added\norlimvis: wrote ", 0), 0u) << err;
  EXPECT_EQ(lines(err), 2) << err;
  EXPECT_EQ(probe(dir.file("odd.mp4"), "stream=width,height"), "width=642\nheight=482\n");
  // Standard input, a snapshot 1.5 s in: read once, then found again in the kept copy.
  EXPECT_EQ(orlimvis("render - -m Pellox --at 1.5 -o " + dir.file("shot.png"), &err, nullptr,
                     "cat -- '" + dir.file("-song.flac") + "' |"), 0) << err;
  EXPECT_TRUE(fileExists(dir.file("shot.png")));
  // /dev/stdin of a file: a name only this process can open as that file; ffmpeg's
  // /dev/stdin is the frames' pipe.
  EXPECT_EQ(orlimvis("render /dev/stdin -m Pellox --size 64x48 -o " + dir.file("stdin.mp4") +
                     " < '" + dir.file("-song.flac") + "'", &err), 0) << err;
  EXPECT_NEAR(atof(probe(dir.file("stdin.mp4"), "format=duration").substr(9).c_str()), 2.0, 0.1);
  // Of a stream only the decoded samples are kept: no source stream is left to copy.
  EXPECT_EQ(orlimvis("render - -m Pellox --audio copy -o " + dir.file("copy.mkv"), &err, nullptr,
                     "cat -- '" + dir.file("-song.flac") + "' |"), 1);
  EXPECT_EQ(err, "orlimvis: --audio copy: standard input is a stream, read once and decoded; its "
                 "sound can only be encoded\n");
  EXPECT_FALSE(fileExists(dir.file("copy.mkv")));
}

TEST(Render, InterruptedRenderLeavesNoOutputAndNoChild) {
  ScratchDir dir;
  std::string out = dir.file("long.mp4");
  pluginCopy();  // made here, not in the child
  pid_t pid = fork();
  if (pid == 0) {
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    execl(kProgram.c_str(), "orlimvis", "render", "-m", "Tovanel", "--size", "640x480", "-o",
          out.c_str(), "--plugin", pluginCopy().c_str(), (char*)nullptr);
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  // Wait until the work is under way (ffmpeg's temporary file is there), then Ctrl-C.
  for (int i = 0; i < 100 && listFolder(dir.path()).find(".part-") == std::string::npos; ++i)
    usleep(50000);
  usleep(300000);
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);  // the shell's status for Ctrl-C
  EXPECT_EQ(listFolder(dir.path()), "");
  // No ffmpeg still writing into the folder: look through every process's command line.
  std::string listing;
  runCommand("ls /proc", &listing);
  std::istringstream entries(listing);
  std::string entry;
  while (entries >> entry) {
    if (entry.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline = readWholeFile("/proc/" + entry + "/cmdline");
    std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
    EXPECT_FALSE(cmdline.find("ffmpeg") != std::string::npos &&
                 cmdline.find(dir.path()) != std::string::npos)
        << cmdline;
  }
}

TEST(Render, VersionAndEachCommandsHelp) {
  std::string err, out;
  ASSERT_EQ(orlimvis("--version", &err, &out), 0) << err;
  EXPECT_EQ(out.rfind("orlimvis ", 0), 0u) << out;
  EXPECT_EQ(lines(out), 1);
  // The command's own help, not the general one, on stdout with status 0.
  const struct { const char* args; const char* starts; } helps[] = {
      {"render --help", "usage: orlimvis render"},
      {"help render", "usage: orlimvis render"},
      {"play -h", "usage: orlimvis play"},
      {"help", "usage: orlimvis COMMAND"},
  };
  for (const auto& h : helps) {
    ASSERT_EQ(orlimvis(h.args, &err, &out), 0) << h.args << err;
    EXPECT_EQ(out.rfind(h.starts, 0), 0u) << h.args << "\n" << out;
    EXPECT_EQ(err, "");
  }
}

TEST(Render, SeveralInputsEachGetTheirVideoAndOneBadOneIsReported) {
  ScratchDir dir, videos;
  std::string err, out;
  ASSERT_EQ(orlimvis("tune " + dir.file("a.wav") + " --duration 1", &err, &out), 0) << err;
  ASSERT_EQ(orlimvis("tune " + dir.file("c.wav") + " --duration 0.5", &err, &out), 0) << err;
  std::ofstream(dir.file("b.wav")) << "not audio";
  int status = orlimvis("render " + dir.file("a.wav") + " " + dir.file("b.wav") + " " +
                            dir.file("c.wav") + " -m Ambrith --size 96x64 -o " + videos.path() + "/",
                        &err);
  EXPECT_EQ(status, 1);  // not all succeeded
  // One line for the bad input, one for the count, one for each written.
  EXPECT_EQ(lines(err), 4) << err;
  EXPECT_NE(err.find("orlimvis: wrote " + videos.file("a.mp4") + " ("), std::string::npos) << err;
  EXPECT_NE(err.find("orlimvis: " + dir.file("b.wav") + ": not an audio file"), std::string::npos)
      << err;
  EXPECT_NE(err.find("orlimvis: 1 of 3 inputs failed"), std::string::npos) << err;
  EXPECT_EQ(listFolder(videos.path()), "a.mp4\nc.mp4\n");
  double seconds = atof(probe(videos.file("c.mp4"), "format=duration").substr(9).c_str());
  EXPECT_NEAR(seconds, 0.5, 0.1);
  // Run again: each existing video is refused on its own, and -y replaces them all.
  EXPECT_EQ(orlimvis("render " + dir.file("a.wav") + " " + dir.file("c.wav") +
                         " -m Ambrith --size 96x64 -o " + videos.path(),
                     &err),
            1);
  EXPECT_NE(err.find(videos.file("a.mp4") + ": already exists"), std::string::npos) << err;
  EXPECT_NE(err.find(videos.file("c.mp4") + ": already exists"), std::string::npos) << err;
  EXPECT_EQ(orlimvis("render " + dir.file("a.wav") + " " + dir.file("c.wav") +
                         " -y -m Ambrith --size 96x64 -o " + videos.path(),
                     &err),
            0)
      << err;
}

TEST(Render, ExistingOutputsNeedYes) {
  ScratchDir dir, frames;
  std::string err;
  std::ofstream(dir.file("x.png")) << "mine";
  std::ofstream(dir.file("x.mp4")) << "mine";
  std::ofstream(frames.file("notes.txt")) << "mine";
  // output, whether -y is given, the exit status, and what the one line must say
  const struct { std::string out; bool yes; int status; const char* says; } cases[] = {
      {dir.file("x.png"), false, 1, "x.png: already exists (-y replaces it)"},
      {dir.file("x.mp4"), false, 1, "x.mp4: already exists (-y replaces it)"},
      {frames.file("frame_%06d.png"), false, 0, ""},  // notes.txt is no frame of the pattern
      {frames.file("frame_%06d.png"), false, 1, "already holds frames named frame_%06d.png"},
      {dir.file("x.png"), true, 0, ""},
      {frames.file("frame_%06d.png"), true, 0, ""},
  };
  for (const auto& c : cases) {
    int status = orlimvis(std::string("render -m Tovanel --size 32x32 --duration 0.1") +
                              (c.yes ? " -y" : "") + " -o " + c.out,
                          &err);
    EXPECT_EQ(status, c.status) << c.out << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
  }
  EXPECT_EQ(readWholeFile(dir.file("x.mp4")), "mine");
  EXPECT_EQ(readWholeFile(dir.file("x.png")).substr(1, 3), "PNG");
  EXPECT_EQ(listFolder(frames.path()),
            "frame_000001.png\nframe_000002.png\nframe_000003.png\nframe_000004.png\nnotes.txt\n");
  EXPECT_EQ(listFolder(dir.path()), "x.mp4\nx.png\n");
}

TEST(Render, DashWritesMatroskaToStandardOutput) {
  ScratchDir dir;
  std::string err, piped;
  ASSERT_EQ(orlimvis("render -m Pellox --duration 1 --size 64x48 -o -", &err, &piped), 0) << err;
  std::ofstream(dir.file("piped"), std::ios::binary) << piped;
  std::string format = probe(dir.file("piped"), "format=format_name");
  EXPECT_EQ(format, "format_name=matroska,webm\n");
  std::string frames;
  runCommand("ffprobe -v error -count_frames -select_streams v -show_entries "
             "stream=nb_read_frames -of csv=p=0 '" + dir.file("piped") + "'", &frames);
  EXPECT_EQ(frames, "40\n");
}

TEST(Render, GifOfFiveSecondsIsSmallWithEvenFrameDelays) {
  // 5 s at 640 x 480: one palette for the clip at 20 frames a second, which GIF times
  // exactly (5 hundredths each), under 3 MB. The two modules whose GIFs are the largest
  // (their pictures change all over, every frame).
  ScratchDir dir;
  for (const char* module : {"Zarvenn", "Tovanel"}) {
    SCOPED_TRACE(module);
    std::string err, gif = dir.file(std::string(module) + ".gif");
    ASSERT_EQ(orlimvis(std::string("render -m ") + module +
                           " --from 2 --duration 5 --seed 1 --size 640x480 -o " + gif,
                       &err),
              0)
        << err;
    std::string bytes = readWholeFile(gif);
    EXPECT_LT(bytes.size(), 3u << 20);
    std::string delays;
    runCommand("ffprobe -v error -show_entries packet=duration -of csv=p=0 '" + gif +
                   "' | sort | uniq -c",
               &delays);
    EXPECT_EQ(delays, "    100 5\n");
  }
}
