// Starting, feeding, waiting for and stopping child processes. See child_process.h.
#include "base/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "base/clock.h"    // monotonicSeconds: the stop's grace period
#include "base/signals.h"  // interruptRequested

namespace {
// The steps in which waits on the child look at the interrupt flag, and how long a
// child told to stop has before it is killed.
constexpr int kStepMillis = 20;
constexpr double kStopGraceSeconds = 2.0;

void sleepMillis(int millis) {
  struct timespec t = {0, millis * 1000000L};
  nanosleep(&t, nullptr);
}

// Reaps `pid` if it has exited; true with its status then.
bool exited(pid_t pid, int* status) {
  pid_t got;
  while ((got = waitpid(pid, status, WNOHANG)) < 0 && errno == EINTR) {
  }
  return got == pid || (got < 0 && errno == ECHILD);
}
}  // namespace

std::string findOnPath(const std::string& program) {
  const char* path = getenv("PATH");
  if (!path) return "";
  std::string all = path;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    std::string folder = all.substr(start, end - start);
    if (folder.empty()) folder = ".";
    std::string candidate = folder + "/" + program;
    struct stat info;
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return "";
}

pid_t spawnChild(const std::vector<std::string>& args, int input, int output,
                 const std::string& log, int* errnum) {
  int logFd = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    // Over a file-size limit, a failed write with a reason rather than a killed child.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_DFL);
    int null = ::open("/dev/null", O_RDWR);
    dup2(input >= 0 ? input : null, 0);
    if (logFd >= 0) dup2(logFd, 2);
    dup2(output >= 0 ? output : (logFd >= 0 ? logFd : null), 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  *errnum = errno;
  if (logFd >= 0) close(logFd);
  if (pid > 0)
    setpgid(pid, pid);  // also here, so that no Ctrl-C slips in before the child's own call
  return pid;
}

pid_t spawnFedChild(const std::vector<std::string>& args, int output, const std::string& log,
                    int* feed, int* errnum) {
  // A socket pair rather than a pipe, only so that writes can say MSG_NOSIGNAL; the
  // child reads its standard input the same way either way.
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    *errnum = errno;
    return -1;
  }
  pid_t pid = spawnChild(args, fds[0], output, log, errnum);
  close(fds[0]);
  if (pid < 0) {
    close(fds[1]);
    return -1;
  }
  shutdown(fds[1], SHUT_RD);
  int buffer = 4 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  *feed = fds[1];
  return pid;
}

Sent sendAll(int feed, const char* data, size_t size) {
  while (size > 0) {
    if (interruptRequested()) return Sent::Interrupted;
    // MSG_NOSIGNAL: a child that died must make this fail, not raise SIGPIPE and kill
    // the player.
    ssize_t n = send(feed, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        struct pollfd ready = {feed, POLLOUT, 0};
        poll(&ready, 1, kStepMillis);
        continue;
      }
      if (errno == EINTR) continue;
      return Sent::Failed;
    }
    data += n;
    size -= (size_t)n;
  }
  return Sent::All;
}

bool waitForChild(pid_t pid, int* status) {
  while (!exited(pid, status)) {
    if (interruptRequested()) {
      stopChild(pid);
      return false;
    }
    sleepMillis(kStepMillis);
  }
  return true;
}

void stopChild(pid_t pid) {
  int status;
  if (kill(-pid, SIGTERM) != 0) kill(pid, SIGTERM);
  const double deadline = monotonicSeconds() + kStopGraceSeconds;
  while (!exited(pid, &status)) {
    if (monotonicSeconds() >= deadline) {
      if (kill(-pid, SIGKILL) != 0) kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return;
    }
    sleepMillis(kStepMillis);
  }
}
