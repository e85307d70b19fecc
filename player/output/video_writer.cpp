// The ffmpeg child (base/child_process.h) gets its frames down a socket; its log goes
// to a file in the scratch folder (not a pipe that could fill up while the player
// blocks writing frames, and not the output's folder, which is the user's); the reason
// reported on failure is read from that log.
//
// GIF takes three runs: the frames, at the GIF's rate, into a lossless scratch file;
// one palette for the whole clip from that file; the GIF from the file and the palette.
// A palette per frame would cost four times the size (each frame's pixels map to other
// indices, so nothing carries over) and one palette in a single run would hold every
// frame in memory until the last had been seen.
#include "output/video_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>  // WIFEXITED: how ffmpeg and ffprobe ended
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "base/child_process.h"
#include "base/files.h"  // scratch files, systemReasonIn

namespace {
// A time for ffmpeg's -ss and -t, to the microsecond.
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
}  // namespace

bool probeAudioCodec(const std::string& ffprobe, const std::string& path, std::string* codec,
                     std::string* error) {
  std::string log = makeScratchFile("ffprobe", ".txt", error);
  if (log.empty()) return false;
  int out = open(log.c_str(), O_WRONLY | O_CLOEXEC);
  int forkErrno = 0;
  pid_t pid = spawnChild({ffprobe, "-v", "error", "-select_streams", "a:0", "-show_entries",
                          "stream=codec_name", "-of", "csv=p=0", "file:" + path},
                         -1, out, "/dev/null", &forkErrno);
  if (out >= 0) close(out);
  int status = -1;
  bool ended = pid > 0 && waitForChild(pid, &status);
  std::string text;
  std::ifstream(log) >> text;
  removeScratchFile(log);
  if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty()) {
    *error = path + ": ffprobe found no audio stream to copy";
    return false;
  }
  *codec = text;
  return true;
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
  int feed = -1, errnum = 0;
  pid_t pid = spawnFedChild(args, toStdout_ && format_ != VideoFormat::Gif ? 1 : -1, logPath_,
                            &feed, &errnum);
  if (pid < 0) {
    *error = std::string("cannot start ffmpeg: ") + strerror(errnum);
    return false;
  }
  child_ = pid;
  pipe_ = feed;
  return true;
}

bool VideoWriter::writeFrame(const FrameView& frame, std::string* error) {
  if (pipe_ < 0) {
    *error = "video output is not open";
    return false;
  }
  Sent sent;
  if (frame.stride == frame.width && frame.width == width_ && frame.height == height_) {
    sent = sendAll(pipe_, (const char*)frame.pixels, (size_t)width_ * height_ * 4);
  } else {
    // A frame of another size (a resize in flight) is cropped or padded with black.
    sent = Sent::All;
    for (int y = 0; y < height_ && sent == Sent::All; ++y) {
      std::fill(rowBuffer_.begin(), rowBuffer_.end(), 0);
      if (y < frame.height) {
        int n = std::min(width_, frame.width);
        memcpy(&rowBuffer_[0], frame.pixels + (size_t)y * frame.stride, (size_t)n * 4);
      }
      sent = sendAll(pipe_, rowBuffer_.data(), rowBuffer_.size());
    }
  }
  return sentFrame(sent, error);
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
    sent = sendAll(pipe_, (const char*)rows, (size_t)width_ * count * 4);
  }
  return sentFrame(sent, error);
}

bool VideoWriter::sentFrame(Sent sent, std::string* error) {
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
  const bool ended = waitForChild(child_, &status);
  child_ = -1;
  if (!ended) {
    *error = "interrupted";
    return false;
  }
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
  pid_t pid = spawnChild(args, -1, toStdout_ ? 1 : -1, logPath_, &forkErrno);
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
