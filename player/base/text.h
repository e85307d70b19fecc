// Text as the player prints it: a message made into the one line it is printed as, and
// times as clocks. Pure functions; nothing here prints.
#pragma once

#include <string>

// A message as the one line it is printed as: control characters (a newline or an
// escape sequence in a file name) become '?'.
std::string oneLine(std::string text);

// The three clocks the player shows. Each is read in its own place, so each keeps the
// form its readers know there; they come from one function so that none drifts.
enum class ClockStyle {
  // "00:01:02.50": hours, minutes, seconds and hundredths, rounded, as ffmpeg's time=
  // (the progress line, the closing line, the -v line); below 0 or NaN shows 0.
  Hundredths,
  // "1:15", "1:02:05": whole seconds (cut, not rounded), hours only when there are
  // some (the window title of `play`, a position and a length).
  Seconds,
  // "0:01.9": minutes and seconds to a tenth (a place in an audio file, in warnings
  // about damage there).
  Tenths,
};
std::string formatClock(double seconds, ClockStyle style = ClockStyle::Hundredths);
