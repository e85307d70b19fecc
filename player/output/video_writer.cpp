// The ffmpeg child runs in its own process group, so a Ctrl-C at the terminal reaches
// only the player, which then stops the child itself and cleans up. Its log goes to a
// temporary file (not a pipe that could fill up while the player blocks writing
// frames); the last line of that log is the reason reported when encoding fails.
#include "output/video_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace {
bool endsWith(const std::string& s, const char* suffix) {
  size_t n = strlen(suffix);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    // send() with MSG_NOSIGNAL: a child that died must make this fail, not raise
    // SIGPIPE and kill the player.
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= (size_t)n;
  }
  return true;
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
  setpgid(pid, pid);
  shutdown(fds[1], SHUT_RD);
  int buffer = 4 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);  // also here, so that no Ctrl-C slips in before the child's own call
  child_ = pid;
  pipe_ = fds[1];
  startWriting();
  return true;
}

// Three buffers: one being written, one waiting, one being filled; more would only hold
// memory, as ffmpeg's pace sets the render's once they are full.
void VideoWriter::startWriting() {
  const int kBuffers = 3;
  buffers_.assign(kBuffers, std::vector<uint32_t>((size_t)width_ * height_));
  free_.clear();
  queued_.clear();
  for (int i = 0; i < kBuffers; ++i) free_.push_back(i);
  stopping_ = dropping_ = false;
  writeErrno_ = 0;
  writer_ = std::thread(&VideoWriter::writeLoop, this);
}

void VideoWriter::writeLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return !queued_.empty() || stopping_; });
    if (queued_.empty() || dropping_) return;
    int index = queued_.front();
    lock.unlock();
    const std::vector<uint32_t>& frame = buffers_[(size_t)index];
    bool ok = writeAll(pipe_, (const char*)frame.data(), frame.size() * 4);
    int why = errno;
    lock.lock();
    queued_.erase(queued_.begin());
    free_.push_back(index);
    if (!ok) {
      writeErrno_ = why ? why : EPIPE;
      changed_.notify_all();
      return;
    }
    changed_.notify_all();
  }
}

void VideoWriter::stopWriting(bool drop) {
  if (!writer_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    dropping_ = drop;
  }
  changed_.notify_all();
  writer_.join();
}

bool VideoWriter::writeFrame(const FrameView& frame, std::string* error) {
  if (pipe_ < 0 || !writer_.joinable()) {
    *error = "video output is not open";
    return false;
  }
  int index = -1, failed = 0;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !free_.empty() || writeErrno_ != 0; });
    failed = writeErrno_;
    if (!failed) {
      index = free_.back();
      free_.pop_back();
    }
  }
  if (failed) {
    std::string why = strerror(failed);
    reap(error);
    if (error->empty()) *error = "ffmpeg stopped reading frames: " + why;
    abort();
    return false;
  }
  uint32_t* out = buffers_[(size_t)index].data();
  if (frame.stride == width_ && frame.width == width_ && frame.height == height_) {
    memcpy(out, frame.pixels, (size_t)width_ * height_ * 4);
  } else {
    // A frame of another size (a resize in flight) is cropped or padded with black.
    const int n = std::min(width_, frame.width);
    for (int y = 0; y < height_; ++y) {
      uint32_t* row = out + (size_t)y * width_;
      int copied = 0;
      if (y < frame.height) {
        memcpy(row, frame.pixels + (size_t)y * frame.stride, (size_t)n * 4);
        copied = n;
      }
      std::fill(row + copied, row + width_, 0u);
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back(index);
  }
  changed_.notify_all();
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
  stopWriting(false);  // what is queued goes to ffmpeg first (or fails, as it dies)
  if (pipe_ >= 0) {
    close(pipe_);
    pipe_ = -1;
  }
  if (child_ < 0) return true;
  int status = 0;
  while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
  }
  child_ = -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    if (writeErrno_ != 0) {  // it ended well without reading every frame
      *error = std::string("ffmpeg stopped reading frames: ") + strerror(writeErrno_);
      return false;
    }
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
  // Stopped first, the child no longer reads: a write the thread is blocked in fails.
  if (child_ > 0) kill(child_, SIGTERM);
  stopWriting(true);
  if (pipe_ >= 0) {
    close(pipe_);
    pipe_ = -1;
  }
  if (child_ > 0) {
    int status;
    while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = -1;
  }
  if (!logPath_.empty()) {
    unlink(logPath_.c_str());
    logPath_.clear();
  }
  file_.discard();
}
