// Text as the player prints it. See text.h.
#include "base/text.h"

#include <math.h>
#include <stdio.h>

std::string oneLine(std::string text) {
  for (char& c : text) {
    if ((unsigned char)c < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

std::string formatClock(double seconds, ClockStyle style) {
  char text[48];
  switch (style) {
    case ClockStyle::Hundredths: {
      if (!(seconds >= 0)) seconds = 0;
      long long hundredths = llround(seconds * 100);
      snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%02lld", hundredths / 360000,
               hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
      break;
    }
    case ClockStyle::Seconds: {
      int s = (int)seconds;
      if (s >= 3600) snprintf(text, sizeof text, "%d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
      else snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
      break;
    }
    case ClockStyle::Tenths: {
      int minutes = (int)(seconds / 60);
      snprintf(text, sizeof text, "%d:%04.1f", minutes, seconds - 60 * minutes);
      break;
    }
  }
  return text;
}
