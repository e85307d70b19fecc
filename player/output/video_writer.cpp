// The ffmpeg child runs in its own process group, so a Ctrl-C at the terminal reaches
// only the player, which then stops the child itself and cleans up. Its log goes to a
// temporary file (not a pipe that could fill up while the player blocks writing
// frames); the last line of that log is the reason reported when encoding fails.
//
// No wait on the child is unbounded while a signal is pending: frames go down a
// non-blocking socket with poll() in short steps, the child is reaped by polling, and
// each step looks at the interrupt flag. A blocking send() or waitpid() would let a
// signal that lands just before it go unseen for as long as ffmpeg is not reading or
// not exiting, which may be forever. A child being stopped gets SIGTERM, and SIGKILL
// when it has not gone after a grace period.
#include "output/video_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <vector>

namespace {
bool endsWith(const std::string& s, const char* suffix) {
  size_t n = strlen(suffix);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

// The steps in which waits on the child look at the interrupt flag, and how long a
// child told to stop has before it is killed.
constexpr int kStepMillis = 20;
constexpr double kStopGraceSeconds = 2.0;

double nowSeconds() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

void sleepMillis(int millis) {
  struct timespec t = {0, millis * 1000000L};
  nanosleep(&t, nullptr);
}

enum class Sent { All, Failed, Interrupted };

Sent writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    if (interruptRequested()) return Sent::Interrupted;
    // MSG_NOSIGNAL: a child that died must make this fail, not raise SIGPIPE and kill
    // the player.
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        struct pollfd ready = {fd, POLLOUT, 0};
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

// Reaps `pid` if it has exited; true with its status then.
bool exited(pid_t pid, int* status) {
  pid_t got;
  while ((got = waitpid(pid, status, WNOHANG)) < 0 && errno == EINTR) {
  }
  return got == pid || (got < 0 && errno == ECHILD);
}

// Stops the child and its process group: SIGTERM, then SIGKILL after the grace period.
void stopChild(pid_t pid) {
  int status;
  if (kill(-pid, SIGTERM) != 0) kill(pid, SIGTERM);
  const double deadline = nowSeconds() + kStopGraceSeconds;
  while (!exited(pid, &status)) {
    if (nowSeconds() >= deadline) {
      if (kill(-pid, SIGKILL) != 0) kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return;
    }
    sleepMillis(kStepMillis);
  }
}
}  // namespace

bool videoFormatFor(const std::string& path, VideoFormat* format) {
  if (endsWith(path, ".mp4")) *format = VideoFormat::Mp4;
  else if (endsWith(path, ".mkv")) *format = VideoFormat::Mkv;
  else if (endsWith(path, ".webm")) *format = VideoFormat::Webm;
  else if (endsWith(path, ".gif")) *format = VideoFormat::Gif;
  else return false;
  return true;
}

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

bool VideoWriter::open(const std::string& ffmpeg, const std::string& path, VideoFormat format,
                       const VideoSettings& settings, std::string* error) {
  abort();
  if (!file_.reserve(path, error)) return false;
  width_ = settings.width;
  height_ = settings.height;
  logPath_ = file_.temporaryPath() + ".log";

  std::string size = std::to_string(width_) + "x" + std::to_string(height_);
  const std::string& rate = settings.frameRate;
  std::vector<std::string> args = {ffmpeg, "-nostdin", "-hide_banner", "-loglevel", "error",
                                   "-y", "-f", "rawvideo", "-pix_fmt", "bgr0", "-s", size,
                                   "-framerate", rate, "-i", "pipe:0"};
  bool withAudio = !settings.audioPath.empty() && format != VideoFormat::Gif;
  if (withAudio) {
    char number[32];
    if (settings.audioStart > 0) {
      snprintf(number, sizeof number, "%.6f", settings.audioStart);
      args.insert(args.end(), {"-ss", number});
    }
    if (settings.audioDuration > 0) {
      snprintf(number, sizeof number, "%.6f", settings.audioDuration);
      args.insert(args.end(), {"-t", number});
    }
    // "file:" keeps a name with a colon, or one starting with '-', a plain file name.
    args.insert(args.end(), {"-i", "file:" + settings.audioPath, "-map", "0:v", "-map", "1:a"});
  }
  // 4:2:0 chroma needs even sizes; odd ones get one black column or row of padding
  // (even ones skip the filter, which would cost a copy per frame).
  bool odd = (width_ | height_) & 1;
  const char* padEven = odd ? "pad=ceil(iw/2)*2:ceil(ih/2)*2" : "null";
  switch (format) {
    case VideoFormat::Mp4:
    case VideoFormat::Mkv:
      args.insert(args.end(), {"-vf", padEven, "-c:v", "libx264", "-preset",
                               settings.x264Preset, "-pix_fmt", "yuv420p"});
      if (withAudio) args.insert(args.end(), {"-c:a", "aac", "-b:a", "192k"});
      if (format == VideoFormat::Mp4) {
        args.insert(args.end(), {"-movflags", "+faststart", "-f", "mp4"});
      } else {
        args.insert(args.end(), {"-f", "matroska"});
      }
      break;
    case VideoFormat::Webm:
      args.insert(args.end(), {"-vf", padEven, "-c:v", "libvpx-vp9", "-deadline", "realtime",
                               "-cpu-used", "8", "-b:v", "2M", "-pix_fmt", "yuv420p"});
      if (withAudio) args.insert(args.end(), {"-c:a", "libopus", "-b:a", "128k"});
      args.insert(args.end(), {"-f", "webm"});
      break;
    case VideoFormat::Gif:
      // A palette per frame: one palette for the whole clip would make ffmpeg hold
      // every frame in memory until the last one has been seen.
      args.insert(args.end(), {"-filter_complex",
                               "[0:v]split[a][b];[a]palettegen=stats_mode=single[p];"
                               "[b][p]paletteuse=new=1",
                               "-f", "gif"});
      break;
  }
  args.push_back("file:" + file_.temporaryPath());

  // The frames go through a socket pair rather than a pipe, only so that writes can say
  // MSG_NOSIGNAL; ffmpeg reads its standard input the same way either way.
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    *error = std::string("cannot start ffmpeg: ") + strerror(errno);
    file_.discard();
    return false;
  }
  int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(fds[0], 0);
    if (log >= 0) {
      dup2(log, 1);
      dup2(log, 2);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int forkErrno = errno;
  close(fds[0]);
  if (log >= 0) close(log);
  if (pid < 0) {
    close(fds[1]);
    *error = std::string("cannot start ffmpeg: ") + strerror(forkErrno);
    file_.discard();
    unlink(logPath_.c_str());
    return false;
  }
  // Also here, not only in the child, so that the group exists before any signal is
  // sent to it.
  setpgid(pid, pid);
  shutdown(fds[1], SHUT_RD);
  int buffer = 4 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  child_ = pid;
  pipe_ = fds[1];
  rowBuffer_.resize((size_t)width_ * 4);
  return true;
}

bool VideoWriter::writeFrame(const FrameView& frame, std::string* error) {
  if (pipe_ < 0) {
    *error = "video output is not open";
    return false;
  }
  Sent sent;
  if (frame.stride == frame.width && frame.width == width_ && frame.height == height_) {
    sent = writeAll(pipe_, (const char*)frame.pixels, (size_t)width_ * height_ * 4);
  } else {
    // A frame of another size (a resize in flight) is cropped or padded with black.
    sent = Sent::All;
    for (int y = 0; y < height_ && sent == Sent::All; ++y) {
      std::fill(rowBuffer_.begin(), rowBuffer_.end(), 0);
      if (y < frame.height) {
        int n = std::min(width_, frame.width);
        memcpy(&rowBuffer_[0], frame.pixels + (size_t)y * frame.stride, (size_t)n * 4);
      }
      sent = writeAll(pipe_, rowBuffer_.data(), rowBuffer_.size());
    }
  }
  if (sent == Sent::Interrupted) {
    abort();
    *error = "interrupted";
    return false;
  }
  if (sent == Sent::Failed) {
    std::string why = strerror(errno);
    reap(error);
    if (error->empty()) *error = "ffmpeg stopped reading frames: " + why;
    abort();
    return false;
  }
  return true;
}

std::string VideoWriter::lastLog() const {
  std::ifstream in(logPath_);
  std::string line, last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  return last;
}

bool VideoWriter::reap(std::string* error) {
  if (pipe_ >= 0) {
    close(pipe_);
    pipe_ = -1;
  }
  if (child_ < 0) return true;
  // ffmpeg may take a while over the last frames; a signal meanwhile stops it.
  int status = 0;
  while (!exited(child_, &status)) {
    if (interruptRequested()) {
      stopChild(child_);
      child_ = -1;
      *error = "interrupted";
      return false;
    }
    sleepMillis(kStepMillis);
  }
  child_ = -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    error->clear();
    return true;
  }
  std::string reason = lastLog();
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) reason = "could not run ffmpeg";
  *error = "ffmpeg failed" + (reason.empty() ? std::string() : ": " + reason);
  return false;
}

bool VideoWriter::finish(std::string* error) {
  bool ok = reap(error);
  if (!logPath_.empty()) unlink(logPath_.c_str());
  if (!ok) {
    file_.discard();
    return false;
  }
  return file_.commit(error);
}

void VideoWriter::abort() {
  if (pipe_ >= 0) {
    close(pipe_);
    pipe_ = -1;
  }
  if (child_ > 0) {
    stopChild(child_);
    child_ = -1;
  }
  if (!logPath_.empty()) {
    unlink(logPath_.c_str());
    logPath_.clear();
  }
  file_.discard();
}
