// Keeps what libraries print on their own off standard error for a scope. The sound
// libraries under SDL (ALSA's above all) print several lines of their own when there is
// no device or server, before SDL hands back the one error that matters, which the
// player reports itself. Nothing else may write to standard error meanwhile: a scope is
// one library call, on the main thread, with no other thread printing.
#pragma once

#include <fcntl.h>
#include <unistd.h>

class QuietStderr {
 public:
  QuietStderr() {
    saved_ = dup(2);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, 2);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    if (saved_ < 0) return;
    dup2(saved_, 2);
    close(saved_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};
