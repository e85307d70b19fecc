// Video output through the ffmpeg program: raw frames go down a socket to a child ffmpeg,
// which encodes them and muxes in an audio file. The file is written under a temporary
// name and renamed when ffmpeg has finished successfully; on failure or abort the child
// is stopped and the temporary file removed.
#pragma once

#include <sys/types.h>

#include <string>

#include "output/frame_view.h"
#include "output/output_file.h"

enum class VideoFormat { Mp4, Mkv, Webm, Gif };

// The video format for an output name by its extension (case-insensitive).
bool videoFormatFor(const std::string& path, VideoFormat* format);

// The full path of `program` found on PATH, or empty.
std::string findOnPath(const std::string& program);

struct VideoSettings {
  int width = 0, height = 0;
  std::string frameRate;         // frames per second as ffmpeg takes it ("50", "1000/30")
  std::string audioPath;         // muxed in when not empty (not for GIF)...
  double audioStart = 0;         // ...from this time in it...
  double audioDuration = -1;     // ...for this long (< 0: to its end)
  std::string x264Preset = "veryfast";
};

class VideoWriter {
 public:
  VideoWriter() = default;
  VideoWriter(const VideoWriter&) = delete;
  VideoWriter& operator=(const VideoWriter&) = delete;
  ~VideoWriter() { abort(); }

  // Starts ffmpeg writing to a temporary name beside path.
  bool open(const std::string& ffmpeg, const std::string& path, VideoFormat format,
            const VideoSettings& settings, std::string* error);
  bool writeFrame(const FrameView& frame, std::string* error);
  // Closes the pipe, waits for ffmpeg, and renames the file on success.
  bool finish(std::string* error);
  // Stops ffmpeg and removes the temporary file.
  void abort();

 private:
  bool reap(std::string* error);
  std::string lastLog() const;

  PendingFile file_;
  std::string logPath_;
  pid_t child_ = -1;
  int pipe_ = -1;
  int width_ = 0, height_ = 0;
  std::string rowBuffer_;
};
