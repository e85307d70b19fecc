// The texts of a render's progress: clock, size, progress line and closing line.
#include <gtest/gtest.h>

#include "base/text.h"  // formatClock
#include "progress.h"

TEST(Progress, TextsAsFfmpegUsersReadThem) {
  // seconds, the clock shown
  const struct { double seconds; const char* shown; } clocks[] = {
      {0, "00:00:00.00"},
      {0.925, "00:00:00.93"},     // 37 frames of 25 ms, to the hundredth
      {59.999, "00:01:00.00"},    // rounding carries into the minutes
      {3723.5, "01:02:03.50"},
      {-1, "00:00:00.00"},        // never negative
  };
  for (const auto& c : clocks) EXPECT_EQ(formatClock(c.seconds), c.shown) << c.seconds;
  EXPECT_EQ(formatSize(900), "900 bytes");
  EXPECT_EQ(formatSize(1536), "2 KiB");
  EXPECT_EQ(formatSize(3 * 1048576 + 104858), "3.1 MiB");

  ProgressState s;
  s.position = 6;
  s.duration = 24;
  s.elapsed = 2;  // 3x real time: 18 s of audio left take 6 s
  EXPECT_EQ(formatProgress(s), "orlimvis:  25%  00:00:06.00/00:00:24.00  speed=3.00x  00:00:06 left");
  s.input = 2;
  s.inputs = 3;
  s.name = "b.flac";
  EXPECT_EQ(formatProgress(s),
            "orlimvis: [2/3] b.flac  25%  00:00:06.00/00:00:24.00  speed=3.00x  00:00:06 left");
  ProgressState start;
  start.duration = 10;
  EXPECT_EQ(formatProgress(start), "orlimvis:   0%  00:00:00.00/00:00:10.00  speed=N/A");
  EXPECT_EQ(formatSummary("out.mp4", 1258291, 24), "orlimvis: wrote out.mp4 (1.2 MiB, 00:00:24.00)");
  EXPECT_EQ(formatSummary("a.png", 2048, -1), "orlimvis: wrote a.png (2 KiB)");
  EXPECT_EQ(formatSummary("standard output", -1, 1.5),
            "orlimvis: wrote standard output (00:00:01.50)");
}

TEST(Progress, LinesFitTheTerminalByShorteningTheName) {
  ProgressState s;
  s.position = 6;
  s.duration = 24;
  s.elapsed = 2;
  s.input = 12;
  s.inputs = 40;
  s.name = "/home/someone/Music/A Very Long Album Name (Deluxe Edition)/07 - The Song.flac";
  // width, the line expected (the widest a line may be is width - 1)
  const struct { int width; const char* line; } cases[] = {
      {0, nullptr},  // no terminal: the whole name
      {200, nullptr},  // room enough: the whole name
      // the time left goes first; the name keeps its start and end
      {80, "orlimvis: [12/40] /home/so...ng.flac  25%  00:00:06.00/00:00:24.00  speed=3.00x"},
      {100, "orlimvis: [12/40] /home/some... Song.flac  25%  00:00:06.00/00:00:24.00  speed=3.00x"
            "  00:00:06 left"},
      {60, "orlimvis: [12/40] /hom...flac  25%  00:00:06.00/00:00:24.00"},  // then the speed
      {30, "orlimvis: [12/40] /...c  25%  00:00:06.00/00:00:24.00"},  // no shorter than this
  };
  const std::string whole = formatProgress(s);
  EXPECT_EQ(whole.find(s.name), 18u);
  for (const auto& c : cases) {
    std::string line = formatProgress(s, c.width);
    EXPECT_EQ(line, c.line ? c.line : whole) << c.width;
    if (c.width >= 60) EXPECT_LT(line.size(), (size_t)c.width) << line;
  }
  // One input has no name to shorten: the numbers go, time left first.
  ProgressState one = s;
  one.inputs = 1;
  EXPECT_EQ(formatProgress(one, 80), "orlimvis:  25%  00:00:06.00/00:00:24.00  speed=3.00x  00:00:06 left");
  EXPECT_EQ(formatProgress(one, 60), "orlimvis:  25%  00:00:06.00/00:00:24.00  speed=3.00x");
  EXPECT_EQ(formatProgress(one, 40), "orlimvis:  25%  00:00:06.00/00:00:24.00");
}
