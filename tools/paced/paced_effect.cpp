// orlimvis_paced: the effect alone at the pace `play` runs it, for the live-play bench.
// It does what `render -o /dev/null` does for each frame (decode, analyse, have the
// module draw and present into its frame window) but starts each frame when it falls
// due on the module's clock and sleeps in between, as a player does. A frame then
// meets caches that other programs used while it slept, so its work costs more than
// in a render that draws frame after frame; this is the effect's own cost as `play`
// incurs it, to set the player's overhead against.
//
// orlimvis_paced [render options] AUDIO: the render options (-m, --seed, --size,
// --duration) as the player takes them. Prints the process's CPU seconds (user +
// system) from the end of the first second to the end, and the frames drawn then.
#include <stdio.h>
#include <sys/resource.h>
#include <time.h>

#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"  // sessionSettingsFor
#include "session.h"

namespace {
double cpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void sleepUntil(const timespec& start, double seconds) {
  timespec due = start;
  const long long nanos = (long long)(seconds * 1e9) + start.tv_nsec;
  due.tv_sec += (time_t)(nanos / 1000000000);
  due.tv_nsec = (long)(nanos % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) != 0) {
  }
}
}  // namespace

int main(int argc, char** argv) {
  // The arguments as `render` takes them, to the discarding output.
  std::vector<char*> args = {argv[0], const_cast<char*>("render")};
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  static char dash_o[] = "-o", devnull[] = "/dev/null";
  args.push_back(dash_o);
  args.push_back(devnull);
  Options options;
  std::string error;
  if (!parseCommandLine((int)args.size(), args.data(), &options, &error)) {
    fprintf(stderr, "orlimvis_paced: %s\n", error.c_str());
    return 2;
  }
  Session session(sessionSettingsFor(options));
  if (!session.open(&error)) {
    fprintf(stderr, "orlimvis_paced: %s\n", error.c_str());
    return 1;
  }
  const FrameClock& clock = session.clock();
  const int64_t warm = clock.frameAtSeconds(1);
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  double cpuFrom = 0;
  int64_t drawn = 0;
  for (int64_t frame = 0; frame < session.frames(); ++frame) {
    sleepUntil(start, frame * clock.secondsPerFrame());
    if (frame == warm) cpuFrom = cpuSeconds();
    if (!session.nextFrame()) break;
    if (frame >= warm) ++drawn;
  }
  const double cpu = cpuSeconds() - cpuFrom;
  session.host().stop();
  printf("%.4f %lld\n", cpu, (long long)drawn);
  return drawn > 0 ? 0 : 1;
}
