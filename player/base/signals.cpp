// The interrupt flag and its handler. See signals.h.
#include "base/signals.h"

#include <signal.h>

#include <initializer_list>  // the signals handled, in a loop

namespace {
// The one piece of process-wide state: a signal handler can reach nothing else. It
// holds the number of the signal received, 0 for none.
volatile sig_atomic_t interrupted = 0;

void onInterrupt(int signal) { interrupted = signal; }
}  // namespace

void installInterruptHandler() {
  struct sigaction action = {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored when the program started stays ignored, as the one who started
    // it asked: SIGHUP under nohup, SIGINT in a background job of a script.
    struct sigaction before;
    if (sigaction(number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(number, &action, nullptr);
  }
  // A dead ffmpeg must show up as a failed write, not kill the player mid-file; a file
  // over the size limit (ulimit -f) as "File too large", not a killed process.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

bool interruptRequested() { return interrupted != 0; }

int interruptExitStatus() { return 128 + (interrupted ? (int)interrupted : SIGINT); }

void clearInterrupt() { interrupted = 0; }
