// The four sinks wrap the writers that do the work (PendingFile, writePng, PngSequence,
// VideoWriter); what is here is the choice between them and their common shape. Each
// sink that keeps pixels scales the drawn frame up to the output's size as it writes.
#include "output/frame_sink.h"

#include <sys/stat.h>

#include "base/child_process.h"  // findOnPath: the ffmpeg that videos need
#include "base/files.h"          // folderOf
#include "output/png_writer.h"
#include "output/video_writer.h"

namespace {
long long sizeOf(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (long long)info.st_size : -1;
}

class DiscardSink : public FrameSink {
 public:
  bool open(const SinkSetup&, std::string*) override { return true; }
  bool write(const FrameView&, int64_t, std::string*) override { return true; }
  bool finish(std::string*) override { return true; }
  bool wantsPixels(int64_t) const override { return false; }
};

class SnapshotSink : public FrameSink {
 public:
  explicit SnapshotSink(std::string path) : path_(std::move(path)) {}
  // The file is reserved at once, so that an unwritable place or an existing file that
  // may not be replaced is found before any work.
  bool reserve(IfExists ifExists, std::string* error) {
    return file_.reserve(path_, ifExists, error);
  }
  bool open(const SinkSetup& setup, std::string*) override {
    scaler_.setUp(setup.width, setup.height, setup.scale, setup.scaleFilter);
    return true;
  }
  bool write(const FrameView& frame, int64_t index, std::string* error) override {
    if (index != frame_) return true;
    written_ = writePng(file_.temporaryPath(), frame, scaler_, error, path_);
    return written_;
  }
  bool finish(std::string* error) override {
    if (!written_) {
      *error = path_ + ": the frame to keep was never drawn";
      return false;
    }
    return file_.commit(error);
  }
  bool wantsPixels(int64_t index) const override { return index == frame_; }
  std::string written() const override { return path_; }
  long long bytes() const override { return sizeOf(path_); }
  bool hasDuration() const override { return false; }
  int64_t frame_ = -1;

 private:
  std::string path_;
  PendingFile file_;
  FrameScaler scaler_;
  bool written_ = false;
};

// Numbered frames named by a pattern in a folder ("frames/%06d.png").
class FramesSink : public FrameSink {
 public:
  FramesSink(const std::string& folder, const std::string& pattern, const std::string& shownAs)
      : shownAs_(shownAs), frames_(folder, pattern) {}
  // Refuses a folder that already holds frames of the pattern unless replacing.
  bool check(IfExists ifExists, std::string* error) { return frames_.open(ifExists, error); }
  bool open(const SinkSetup& setup, std::string*) override {
    scaler_.setUp(setup.width, setup.height, setup.scale, setup.scaleFilter);
    return true;
  }
  bool write(const FrameView& frame, int64_t, std::string* error) override {
    return frames_.write(frame, scaler_, error);
  }
  bool finish(std::string* error) override { return frames_.commit(error); }
  bool wantsPixels(int64_t) const override { return true; }
  std::string written() const override {
    return std::to_string(frames_.count()) + " frames as " + shownAs_;
  }
  long long bytes() const override { return frames_.bytes(); }

 private:
  std::string shownAs_;
  PngSequence frames_;
  FrameScaler scaler_;
};

class VideoSink : public FrameSink {
 public:
  VideoSink(std::string path, VideoFormat format, std::string ffmpeg, const SinkChoice& choice)
      : path_(std::move(path)), format_(format), ffmpeg_(std::move(ffmpeg)), choice_(choice) {}
  bool open(const SinkSetup& setup, std::string* error) override {
    VideoSettings settings;
    settings.width = setup.width;
    settings.height = setup.height;
    scaler_.setUp(setup.width, setup.height, setup.scale, setup.scaleFilter);
    settings.frameRate = setup.frameRate;
    settings.audioPath = setup.audioPath;
    settings.audioStart = setup.audioStart;
    settings.audioDuration = setup.audioDuration;
    settings.encoding = choice_.encoding;
    settings.ifExists = choice_.ifExists;
    // 4:2:0 video needs even sides: the writer pads an odd one with a black line.
    if (format_ != VideoFormat::Gif && ((setup.width | setup.height) & 1)) {
      note_ = std::to_string(setup.width) + "x" + std::to_string(setup.height) + ": " +
              videoFormatName(format_) + " video in 4:2:0 needs even sides; it is " +
              std::to_string((setup.width + 1) & ~1) + "x" +
              std::to_string((setup.height + 1) & ~1) + ", with a black line added";
    }
    return video_.open(ffmpeg_, path_, format_, settings, error);
  }
  std::string note() const override { return note_; }
  bool write(const FrameView& frame, int64_t, std::string* error) override {
    return video_.writeFrame(frame, scaler_, error);
  }
  // The writer's errors name the output already.
  bool finish(std::string* error) override { return video_.finish(error); }
  bool wantsPixels(int64_t) const override { return true; }
  bool wantsAudio() const override { return true; }
  std::string written() const override { return toStdout() ? "standard output" : path_; }
  long long bytes() const override { return toStdout() ? -1 : video_.outputSize(); }

 private:
  bool toStdout() const { return path_ == "-"; }
  std::string path_;
  VideoFormat format_;
  std::string ffmpeg_;
  SinkChoice choice_;
  FrameScaler scaler_;
  VideoWriter video_;
  std::string note_;
};

bool isFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool endsWithPng(const std::string& path) {
  return path.size() > 4 && (path.compare(path.size() - 4, 4, ".png") == 0 ||
                             path.compare(path.size() - 4, 4, ".PNG") == 0);
}

// The file name of a path, after its last '/'.
std::string fileNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "%06d" or "%d" at `at` in name: its length, or 0 when it is no such conversion.
size_t conversionAt(const std::string& name, size_t at) {
  size_t i = at + 1;
  if (i < name.size() && name[i] == '0') {
    ++i;
    if (i < name.size() && name[i] >= '1' && name[i] <= '9') ++i;
    else return 0;
  }
  return i < name.size() && name[i] == 'd' ? i + 1 - at : 0;
}

std::unique_ptr<FrameSink> makeFramesSink(const std::string& out, const SinkChoice& choice,
                                          std::string* error) {
  std::string folder = folderOf(out);
  std::unique_ptr<FramesSink> sink(new FramesSink(folder, fileNameOf(out), out));
  if (!sink->check(choice.ifExists, error)) return nullptr;
  return std::unique_ptr<FrameSink>(sink.release());
}

// The checks a video output can have before any work: its folder, an existing file,
// the encoding choice (an --audio copy waits for the source, which ffprobe reads at
// open()) and the ffmpeg program.
std::unique_ptr<FrameSink> makeVideoSink(const std::string& out, VideoFormat format,
                                         const SinkChoice& choice, std::string* error) {
  if (out != "-") {
    if (!checkWritableFolder(folderOf(out), error)) return nullptr;
    struct stat existing;
    if (choice.ifExists == IfExists::Refuse && stat(out.c_str(), &existing) == 0) {
      *error = existsError(out);
      return nullptr;
    }
  }
  VideoEncoding encoding;
  if (!choice.encoding.audioCopy &&
      !resolveEncoding(format, choice.encoding, "", &encoding, error)) {
    return nullptr;
  }
  std::string ffmpeg = findOnPath("ffmpeg");
  if (ffmpeg.empty()) {
    *error = out + ": video output needs the ffmpeg program, which is not on the PATH";
    return nullptr;
  }
  return std::unique_ptr<FrameSink>(new VideoSink(out, format, ffmpeg, choice));
}
}  // namespace

std::unique_ptr<FrameSink> makeFrameSink(const std::string& out, const SinkChoice& choice,
                                         std::string* error) {
  VideoFormat format;
  if (out == "/dev/null") return std::unique_ptr<FrameSink>(new DiscardSink());
  if (isFramesPattern(out)) return makeFramesSink(out, choice, error);
  if (fileNameOf(out).find('%') != std::string::npos) {
    *error = out + ": a frames pattern has one %d or %06d and ends in .png, as frames/%06d.png";
    return nullptr;
  }
  if (isFolder(out)) {
    *error = out + ": is a folder; name a video in it, or frames as " + out +
             (out.back() == '/' ? "" : "/") + "%06d.png";
    return nullptr;
  }
  if (endsWithPng(out)) {
    std::unique_ptr<SnapshotSink> sink(new SnapshotSink(out));
    if (!sink->reserve(choice.ifExists, error)) return nullptr;
    return std::unique_ptr<FrameSink>(sink.release());
  }
  struct stat info;
  if (out != "-" && stat(out.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    // /dev/full, /dev/zero, a terminal, a named pipe: not a place a file is renamed to.
    const char* what = S_ISFIFO(info.st_mode) ? "a named pipe" : S_ISSOCK(info.st_mode) ? "a socket"
                                                                                       : "a device";
    *error = out + ": is " + what + "; -o takes a file, a folder, - (standard output) or "
                                  "/dev/null";
    return nullptr;
  }
  if (videoFormatFor(out, &format)) return makeVideoSink(out, format, choice, error);
  size_t slash = out.find_last_of('/');
  if (!out.empty() && (out.back() == '/' ||
                       out.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos)) {
    *error = out + ": output folder does not exist";
  } else {
    *error = out + ": unknown output type (use .mp4, .mkv, .webm, .gif, .png, a frames pattern"
                   " such as frames/%06d.png, or a folder)";
  }
  return nullptr;
}

bool isFramesPattern(const std::string& output) {
  const std::string name = fileNameOf(output);
  size_t percent = name.find('%');
  if (percent == std::string::npos || !endsWithPng(name)) return false;
  size_t length = conversionAt(name, percent);
  return length > 0 && name.find('%', percent + length) == std::string::npos;
}

bool isVideoSink(const FrameSink* sink) { return dynamic_cast<const VideoSink*>(sink) != nullptr; }

bool isSnapshotSink(const FrameSink* sink) {
  return dynamic_cast<const SnapshotSink*>(sink) != nullptr;
}

bool setSnapshotFrame(FrameSink* sink, int64_t index) {
  SnapshotSink* snapshot = dynamic_cast<SnapshotSink*>(sink);
  if (!snapshot) return false;
  snapshot->frame_ = index;
  return true;
}
