// The ffmpeg child runs in its own process group, so a Ctrl-C at the terminal reaches
// only the player, which then stops the child itself and cleans up. Its log goes to a
// file in the scratch folder (not a pipe that could fill up while the player blocks
// writing frames, and not the output's folder, which is the user's); the reason
// reported on failure is read from that log.
//
// GIF takes three runs: the frames, at the GIF's rate, into a lossless scratch file;
// one palette for the whole clip from that file; the GIF from the file and the palette.
// A palette per frame would cost four times the size (each frame's pixels map to other
// indices, so nothing carries over) and one palette in a single run would hold every
// frame in memory until the last had been seen.
//
// No wait on a child is unbounded while a signal is pending: frames go down a
// non-blocking socket with poll() in short steps, children are reaped by polling, and
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
#include <sstream>

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

// One video codec: ffmpeg's encoder, its quality scale and its speed presets.
struct Codec {
  const char* name;
  const char* encoder;
  int defaultCrf, maxCrf;
  const char* defaultPreset;
  const char* presets;  // the accepted names, space-separated
};

// Defaults: near-transparent quality for flat, sharp-edged pictures, at a speed that
// keeps a render well ahead of real time on one core.
const Codec kCodecs[] = {
    {"h264", "libx264", 20, 51, "veryfast",
     "ultrafast superfast veryfast faster fast medium slow slower veryslow"},
    {"hevc", "libx265", 24, 51, "veryfast",
     "ultrafast superfast veryfast faster fast medium slow slower veryslow"},
    // libvpx's deadline: realtime is the only one that keeps up with 40 frames a second.
    {"vp9", "libvpx-vp9", 32, 63, "realtime", "realtime good best"},
    // SVT-AV1's presets run from 0 (slowest) to 13 (fastest).
    {"av1", "libsvtav1", 35, 63, "10", "0 1 2 3 4 5 6 7 8 9 10 11 12 13"},
};

const Codec* findCodec(const std::string& name) {
  std::string wanted = name == "h265" ? "hevc" : name;
  for (const Codec& c : kCodecs) {
    if (wanted == c.name) return &c;
  }
  return nullptr;
}

bool inList(const char* list, const std::string& word) {
  std::istringstream in(list);
  std::string item;
  while (in >> item) {
    if (item == word) return true;
  }
  return false;
}

// The video codecs each container takes, its default first.
const char* codecsOf(VideoFormat format) {
  switch (format) {
    case VideoFormat::Mp4: return "h264 hevc av1 vp9";
    case VideoFormat::Mkv: return "h264 hevc vp9 av1";
    case VideoFormat::Webm: return "vp9 av1";
    case VideoFormat::Gif: return "gif";
  }
  return "";
}

std::string commaList(const char* list) {
  std::string out = list;
  for (size_t at = out.find(' '); at != std::string::npos; at = out.find(' ', at + 2))
    out.replace(at, 1, ", ");
  return out;
}

std::string number(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.6f", value);
  return text;
}

void replaceAll(std::string* text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

// The last `count` non-empty lines of a text.
std::vector<std::string> lastLines(const std::string& text, size_t count) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back(line);
  }
  if (lines.size() > count) lines.erase(lines.begin(), lines.end() - (long)count);
  return lines;
}

// Starts argv with stdin from `input` (or /dev/null), stdout to `output` (or the log),
// stderr to the log, in its own process group. Returns the child's id or -1.
pid_t spawn(const std::vector<std::string>& args, int input, int output, const std::string& log,
            int* forkErrno) {
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
  *forkErrno = errno;
  if (logFd >= 0) close(logFd);
  if (pid > 0) setpgid(pid, pid);  // also here, so that no Ctrl-C slips in before the child's own call
  return pid;
}

// Waits for a short-lived child (ffprobe); a signal meanwhile stops it, and the status
// returned is then -1.
int waitFor(pid_t pid) {
  int status = 0;
  while (!exited(pid, &status)) {
    if (interruptRequested()) {
      stopChild(pid);
      return -1;
    }
    sleepMillis(kStepMillis);
  }
  return status;
}
}  // namespace

bool videoFormatFor(const std::string& path, VideoFormat* format) {
  if (path == "-") *format = VideoFormat::Mkv;
  else if (endsWith(path, ".mp4")) *format = VideoFormat::Mp4;
  else if (endsWith(path, ".mkv")) *format = VideoFormat::Mkv;
  else if (endsWith(path, ".webm")) *format = VideoFormat::Webm;
  else if (endsWith(path, ".gif")) *format = VideoFormat::Gif;
  else return false;
  return true;
}

const char* videoFormatName(VideoFormat format) {
  switch (format) {
    case VideoFormat::Mp4: return "MP4";
    case VideoFormat::Mkv: return "Matroska";
    case VideoFormat::Webm: return "WebM";
    case VideoFormat::Gif: return "GIF";
  }
  return "";
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

bool parseAudioBitrate(const std::string& text, int* kbps, std::string* error) {
  std::string digits = text;
  if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) digits.pop_back();
  bool ok = !digits.empty() && digits.size() <= 5 &&
            digits.find_first_not_of("0123456789") == std::string::npos;
  int value = ok ? atoi(digits.c_str()) : 0;
  if (!ok || value < 8 || value > 1024) {
    *error = "--audio-bitrate " + text + ": expected kbit/s from 8 to 1024, for example 192k";
    return false;
  }
  *kbps = value;
  return true;
}

bool containerTakesAudio(VideoFormat format, const std::string& codec) {
  switch (format) {
    case VideoFormat::Mp4: return inList("aac mp3 alac ac3 eac3 opus", codec);
    case VideoFormat::Mkv:
      return inList("aac mp3 mp2 alac ac3 eac3 opus vorbis flac wavpack", codec) ||
             codec.rfind("pcm_", 0) == 0;
    case VideoFormat::Webm: return inList("opus vorbis", codec);
    case VideoFormat::Gif: return false;
  }
  return false;
}

bool resolveEncoding(VideoFormat format, const EncodingChoice& choice,
                     const std::string& sourceAudioCodec, VideoEncoding* out,
                     std::string* error) {
  *out = VideoEncoding();
  if (format == VideoFormat::Gif) {
    const char* option = !choice.codec.empty() ? "--codec"
                         : choice.crf >= 0     ? "--crf"
                         : !choice.preset.empty() ? "--preset"
                         : choice.audioBitrate > 0 ? "--audio-bitrate"
                         : choice.audioCopy    ? "--audio copy"
                                               : nullptr;
    if (option) {
      *error = std::string(option) + ": not for GIF (a GIF has one palette and no sound)";
      return false;
    }
    out->codec = out->encoder = "gif";
    return true;
  }
  const char* allowed = codecsOf(format);
  std::string codecName = choice.codec;
  if (codecName.empty()) codecName = std::string(allowed).substr(0, std::string(allowed).find(' '));
  const Codec* codec = findCodec(codecName);
  if (!codec || !inList(allowed, codec->name)) {
    *error = "--codec " + choice.codec + ": " + videoFormatName(format) + " takes " +
             commaList(allowed);
    return false;
  }
  out->codec = codec->name;
  out->encoder = codec->encoder;
  out->crf = choice.crf >= 0 ? choice.crf : codec->defaultCrf;
  if (out->crf > codec->maxCrf) {
    *error = "--crf " + std::to_string(choice.crf) + ": " + codec->name + " takes 0 to " +
             std::to_string(codec->maxCrf) + " (lower is better)";
    return false;
  }
  out->preset = choice.preset.empty() ? codec->defaultPreset : choice.preset;
  if (!inList(codec->presets, out->preset)) {
    *error = "--preset " + choice.preset + ": " + codec->name + " takes " +
             commaList(codec->presets);
    return false;
  }
  bool opus = format == VideoFormat::Webm;
  if (choice.audioCopy) {
    if (choice.audioBitrate > 0) {
      *error = "--audio-bitrate: not with --audio copy, which keeps the source's stream";
      return false;
    }
    if (!containerTakesAudio(format, sourceAudioCodec)) {
      *error = "--audio copy: " + std::string(videoFormatName(format)) + " cannot hold " +
               (sourceAudioCodec.empty() ? std::string("this audio") : sourceAudioCodec) +
               " audio as it is (drop --audio copy, or use .mkv)";
      return false;
    }
    out->audioEncoder = "copy";
    return true;
  }
  out->audioEncoder = opus ? "libopus" : "aac";
  out->audioBitrate = choice.audioBitrate > 0 ? choice.audioBitrate : opus ? 128 : 192;
  return true;
}

bool probeAudioCodec(const std::string& ffprobe, const std::string& path, std::string* codec,
                     std::string* error) {
  std::string log = makeScratchFile("ffprobe", ".txt", error);
  if (log.empty()) return false;
  int out = open(log.c_str(), O_WRONLY | O_CLOEXEC);
  int forkErrno = 0;
  pid_t pid = spawn({ffprobe, "-v", "error", "-select_streams", "a:0", "-show_entries",
                     "stream=codec_name", "-of", "csv=p=0", "file:" + path},
                    -1, out, "/dev/null", &forkErrno);
  if (out >= 0) close(out);
  int status = pid > 0 ? waitFor(pid) : -1;
  std::string text;
  std::ifstream(log) >> text;
  removeScratchFile(log);
  if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty()) {
    *error = path + ": ffprobe found no audio stream to copy";
    return false;
  }
  *codec = text;
  return true;
}

ColourTags colourFor(int width, int height) {
  // The size rule players use for untagged video (mpv's: HD from 1280 wide or more
  // than 576 high), so that a player that ignores the tags still agrees.
  if (width >= 1280 || height > 576) return {"bt709", "bt709", "bt709", "bt709"};
  // BT.601 as the 525-line system tags it; the 625-line primaries differ by little,
  // and players treat both matrices alike.
  return {"bt601", "smpte170m", "smpte170m", "smpte170m"};
}

bool parseFrameRate(const std::string& text, int* numerator, int* denominator) {
  char* end = nullptr;
  long num = strtol(text.c_str(), &end, 10), den = 1;
  if (end == text.c_str() || num <= 0) return false;
  if (*end == '/') {
    const char* start = end + 1;
    den = strtol(start, &end, 10);
    if (end == start || den <= 0) return false;
  }
  if (*end != '\0') return false;
  *numerator = (int)num;
  *denominator = (int)den;
  return true;
}

double gifFrameRate(const std::string& frameRate, int* divisor) {
  // A frame of n / fps = n den / num seconds lasts 100 n den / num hundredths: whole
  // for the smallest n with 100 n den divisible by num. Taking every n-th frame keeps
  // the pace even.
  int num = 0, den = 1;
  *divisor = 1;
  if (!parseFrameRate(frameRate, &num, &den)) return 0;
  int n = 1;
  while ((100LL * n * den) % num != 0 && n < num) ++n;
  *divisor = n;
  return (double)num / den / n;
}

std::vector<std::string> encoderArguments(const std::string& ffmpeg, VideoFormat format,
                                          const VideoSettings& s, const VideoEncoding& e,
                                          const std::string& target) {
  std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
  std::vector<std::string> args = {ffmpeg, "-nostdin", "-hide_banner", "-loglevel", "error",
                                   "-y", "-f", "rawvideo", "-pix_fmt", "bgr0", "-s", size,
                                   "-framerate", s.frameRate, "-i", "pipe:0"};
  if (format == VideoFormat::Gif) {
    // Every n-th frame, losslessly, for the palette runs that follow.
    int n, num = 40, den = 1;
    gifFrameRate(s.frameRate, &n);
    parseFrameRate(s.frameRate, &num, &den);
    args.insert(args.end(), {"-vf", "fps=" + std::to_string(num) + "/" +
                                         std::to_string((long long)den * n),
                             "-c:v", "ffv1", "-f", "matroska", target});
    return args;
  }
  bool withAudio = !s.audioPath.empty();
  if (withAudio) {
    if (s.audioStart > 0) args.insert(args.end(), {"-ss", number(s.audioStart)});
    if (s.audioDuration > 0) args.insert(args.end(), {"-t", number(s.audioDuration)});
    // "file:" keeps a name with a colon, or one starting with '-', a plain file name.
    args.insert(args.end(), {"-i", "file:" + s.audioPath, "-map", "0:v", "-map", "1:a"});
  }
  // 4:2:0 chroma needs even sizes; odd ones get one black column or row of padding.
  // The matrix is set on the conversion itself (swscale's default is BT.601 whatever
  // the size), and accurate rounding keeps flat colours within a level.
  ColourTags colour = colourFor(s.width, s.height);
  std::string filter;
  if ((s.width | s.height) & 1) filter = "pad=ceil(iw/2)*2:ceil(ih/2)*2,";
  filter += std::string("scale=out_color_matrix=") + colour.matrix +
            ":out_range=tv:flags=accurate_rnd,format=yuv420p";
  args.insert(args.end(), {"-vf", filter, "-c:v", e.encoder, "-crf", std::to_string(e.crf)});
  if (e.codec == "vp9") {
    // Constant quality in libvpx: -b:v 0 with -crf; row threads for speed.
    const char* cpuUsed = e.preset == "realtime" ? "8" : e.preset == "good" ? "4" : "0";
    args.insert(args.end(), {"-b:v", "0", "-deadline", e.preset, "-cpu-used", cpuUsed,
                             "-row-mt", "1"});
  } else {
    args.insert(args.end(), {"-preset", e.preset});
  }
  if (e.codec == "hevc" && format == VideoFormat::Mp4) {
    args.insert(args.end(), {"-tag:v", "hvc1"});  // the tag browsers and Apple players want
  }
  args.insert(args.end(), {"-colorspace", colour.space, "-color_primaries", colour.primaries,
                           "-color_trc", colour.transfer, "-color_range", "tv"});
  if (withAudio) {
    args.insert(args.end(), {"-c:a", e.audioEncoder});
    if (e.audioEncoder != "copy")
      args.insert(args.end(), {"-b:a", std::to_string(e.audioBitrate) + "k"});
  }
  switch (format) {
    case VideoFormat::Mp4: args.insert(args.end(), {"-movflags", "+faststart", "-f", "mp4"}); break;
    case VideoFormat::Mkv: args.insert(args.end(), {"-f", "matroska"}); break;
    case VideoFormat::Webm: args.insert(args.end(), {"-f", "webm"}); break;
    case VideoFormat::Gif: break;
  }
  args.push_back(target);
  return args;
}

std::string failureReason(const std::string& log, const std::string& temporaryPath,
                          const std::string& shownAs) {
  std::string system = systemReasonIn(log);
  if (!system.empty()) return system;
  std::vector<std::string> last = lastLines(log, 1);
  if (last.empty()) return "ffmpeg failed";
  std::string line = last.back();
  replaceAll(&line, "file:" + temporaryPath, shownAs);
  replaceAll(&line, temporaryPath, shownAs);
  return "ffmpeg failed: " + line;
}

std::string VideoWriter::readLog() const {
  std::ifstream in(logPath_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string VideoWriter::explain(const std::string& log) const {
  std::string reason = failureReason(log, file_.temporaryPath(), shownAs_);
  std::string text = (toStdout_ ? std::string("standard output") : shownAs_) + ": " + reason;
  if (reason.rfind("ffmpeg failed", 0) == 0) {
    // ffmpeg's own trouble: the lines before its last say why (the last is above).
    std::vector<std::string> before = lastLines(log, 7);
    if (!before.empty()) before.pop_back();
    for (std::string line : before) {
      replaceAll(&line, file_.temporaryPath(), shownAs_);
      text += "\n  ffmpeg: " + line;
    }
  }
  return text;
}

bool VideoWriter::open(const std::string& ffmpeg, const std::string& path, VideoFormat format,
                       const VideoSettings& settings, std::string* error) {
  abort();
  shownAs_ = path;
  format_ = format;
  ffmpeg_ = ffmpeg;
  toStdout_ = path == "-";
  width_ = settings.width;
  height_ = settings.height;

  int rateNum, rateDen;
  if (!parseFrameRate(settings.frameRate, &rateNum, &rateDen)) {
    *error = path + ": '" + settings.frameRate + "' is no frame rate";
    return false;
  }
  std::string sourceAudio;
  if (settings.encoding.audioCopy && !settings.audioPath.empty() &&
      !probeAudioCodec(findOnPath("ffprobe").empty() ? "ffprobe" : findOnPath("ffprobe"),
                       settings.audioPath, &sourceAudio, error)) {
    return false;
  }
  VideoEncoding encoding;
  if (!resolveEncoding(format, settings.encoding, sourceAudio, &encoding, error)) return false;
  if (encoding.codec == "av1" && (width_ < 64 || height_ < 64)) {
    *error = "--codec av1: SVT-AV1 takes frames of 64x64 and more, not " +
             std::to_string(width_) + "x" + std::to_string(height_);
    return false;
  }
  if (toStdout_ && isatty(1)) {
    *error = "-o -: standard output is a terminal; send it to a pipe or a file";
    return false;
  }
  if (!toStdout_ && !file_.reserve(path, settings.ifExists, error)) return false;
  logPath_ = makeScratchFile("ffmpeg", ".log", error);
  if (logPath_.empty()) {
    file_.discard();
    return false;
  }
  std::string target = toStdout_ ? "pipe:1" : "file:" + file_.temporaryPath();
  if (format == VideoFormat::Gif) {
    gifFrames_ = makeScratchFile("gif", ".mkv", error);
    gifPalette_ = gifFrames_.empty() ? "" : makeScratchFile("palette", ".png", error);
    if (gifPalette_.empty()) {
      abort();
      return false;
    }
    target = "file:" + gifFrames_;
  }
  if (!startEncoder(encoderArguments(ffmpeg, format, settings, encoding, target), error)) {
    abort();
    return false;
  }
  rowBuffer_.resize((size_t)width_ * 4);
  return true;
}

bool VideoWriter::startEncoder(const std::vector<std::string>& args, std::string* error) {
  // The frames go through a socket pair rather than a pipe, only so that writes can say
  // MSG_NOSIGNAL; ffmpeg reads its standard input the same way either way.
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    *error = std::string("cannot start ffmpeg: ") + strerror(errno);
    return false;
  }
  int forkErrno = 0;
  pid_t pid = spawn(args, fds[0], toStdout_ && format_ != VideoFormat::Gif ? 1 : -1, logPath_,
                    &forkErrno);
  close(fds[0]);
  if (pid < 0) {
    close(fds[1]);
    *error = std::string("cannot start ffmpeg: ") + strerror(forkErrno);
    return false;
  }
  shutdown(fds[1], SHUT_RD);
  int buffer = 4 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  child_ = pid;
  pipe_ = fds[1];
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
  return sentFrame((int)sent, error);
}

bool VideoWriter::writeFrame(const FrameView& frame, FrameScaler& scaler, std::string* error) {
  if (scaler.factor() == 1) return writeFrame(frame, error);
  if (pipe_ < 0) {
    *error = "video output is not open";
    return false;
  }
  // A band of output rows at a time: the frame at the output's size is never held.
  Sent sent = Sent::All;
  for (int y = 0, count = 0; y < height_ && sent == Sent::All; y += count) {
    const uint32_t* rows = scaler.rows(frame, y, &count);
    sent = writeAll(pipe_, (const char*)rows, (size_t)width_ * count * 4);
  }
  return sentFrame((int)sent, error);
}

bool VideoWriter::sentFrame(int outcome, std::string* error) {
  Sent sent = (Sent)outcome;
  if (sent == Sent::Interrupted) {
    abort();
    *error = "interrupted";
    return false;
  }
  if (sent == Sent::Failed) {
    std::string why = strerror(errno);
    if (reap(error)) *error = shownAs_ + ": ffmpeg stopped reading frames: " + why;
    abort();
    return false;
  }
  return true;
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
  // ffmpeg 5.1 can exit with 0 after "Error writing trailer of ...: No space left on
  // device" (seen with WebM): a write error in the log fails the run whatever the status.
  std::string log = readLog();
  bool wroteBadly = !systemReasonIn(log).empty() ||
                    log.find("Error writing trailer") != std::string::npos ||
                    log.find("Error closing file") != std::string::npos;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !wroteBadly) {
    error->clear();
    return true;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    *error = shownAs_ + ": could not run " + ffmpeg_;
  } else {
    *error = explain(log);
  }
  return false;
}

// Runs one more ffmpeg to its end (the GIF's later runs), its output to standard output
// when that is the target.
bool VideoWriter::runToEnd(std::vector<std::string> args, std::string* error) {
  int forkErrno = 0;
  pid_t pid = spawn(args, -1, toStdout_ ? 1 : -1, logPath_, &forkErrno);
  if (pid < 0) {
    *error = std::string("cannot start ffmpeg: ") + strerror(forkErrno);
    return false;
  }
  child_ = pid;
  return reap(error);
}

bool VideoWriter::finish(std::string* error) {
  bool ok = reap(error);
  if (ok && format_ == VideoFormat::Gif) {
    std::string target = toStdout_ ? "pipe:1" : "file:" + file_.temporaryPath();
    std::vector<std::string> common = {ffmpeg_, "-nostdin", "-hide_banner", "-loglevel",
                                       "error", "-y", "-i", "file:" + gifFrames_};
    std::vector<std::string> palette = common;
    palette.insert(palette.end(), {"-vf", "palettegen", "-update", "1", "file:" + gifPalette_});
    // Ordered dithering changes a pixel only where its colour changes, so the still
    // parts of the picture compress to nothing from frame to frame.
    std::vector<std::string> gif = common;
    gif.insert(gif.end(), {"-i", "file:" + gifPalette_, "-lavfi",
                           "paletteuse=dither=bayer:bayer_scale=5:diff_mode=rectangle", "-f",
                           "gif", target});
    ok = runToEnd(palette, error) && runToEnd(gif, error);
  }
  removeScratch();
  if (!ok) {
    file_.discard();
    return false;
  }
  if (toStdout_) return true;
  struct stat info;
  size_ = stat(file_.temporaryPath().c_str(), &info) == 0 ? (long long)info.st_size : 0;
  return file_.commit(error);
}

void VideoWriter::removeScratch() {
  for (std::string* path : {&logPath_, &gifFrames_, &gifPalette_}) {
    if (!path->empty()) removeScratchFile(*path);
    path->clear();
  }
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
  removeScratch();
  file_.discard();
}
