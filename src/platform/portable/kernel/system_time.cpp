// GetSystemTime of the portable KERNEL32: the current time in UTC with its millisecond
// field, from the real-time clock, or a fixed time that a test or a deterministic
// render sets.
#include <time.h>

#include <mutex>

#include "../visplatform.h"

namespace {
std::mutex overrideMutex;
bool overridden = false;
SYSTEMTIME fixedTime;
}  // namespace

extern "C" {

void visSetSystemTimeOverride(const SYSTEMTIME* time) {
  std::lock_guard<std::mutex> lock(overrideMutex);
  overridden = time != nullptr;
  if (time) fixedTime = *time;
}

void WINAPI GetSystemTime(LPSYSTEMTIME out) {
  if (!out) return;
  {
    std::lock_guard<std::mutex> lock(overrideMutex);
    if (overridden) {
      *out = fixedTime;
      return;
    }
  }
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm utc;
  gmtime_r(&now.tv_sec, &utc);
  out->wYear = static_cast<WORD>(utc.tm_year + 1900);
  out->wMonth = static_cast<WORD>(utc.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(utc.tm_wday);  // 0 is Sunday, as in Win32
  out->wDay = static_cast<WORD>(utc.tm_mday);
  out->wHour = static_cast<WORD>(utc.tm_hour);
  out->wMinute = static_cast<WORD>(utc.tm_min);
  out->wSecond = static_cast<WORD>(utc.tm_sec < 60 ? utc.tm_sec : 59);  // no leap second
  out->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

}  // extern "C"
