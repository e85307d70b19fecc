// Video output through the ffmpeg program: raw frames go down a socket to a child ffmpeg,
// which encodes them and muxes in an audio file. A thread of the writer's own does the
// writing, from a few frame buffers that writeFrame fills, so that the caller draws the
// next frames while ffmpeg reads the last ones, however little the kernel buffers. The file is written under a temporary
// name and renamed when ffmpeg has finished successfully; on failure or abort the child
// is stopped and the temporary file removed.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
  // Hands the frame over; an error is one the writing met, of this frame or an earlier one.
  bool writeFrame(const FrameView& frame, std::string* error);
  // Closes the pipe, waits for ffmpeg, and renames the file on success.
  bool finish(std::string* error);
  // Stops ffmpeg and removes the temporary file.
  void abort();

 private:
  bool reap(std::string* error);
  std::string lastLog() const;
  void startWriting();
  // Ends the writing thread once it has written what is queued (or at once, `drop`).
  void stopWriting(bool drop);
  void writeLoop();

  PendingFile file_;
  std::string logPath_;
  pid_t child_ = -1;
  int pipe_ = -1;
  int width_ = 0, height_ = 0;

  // Frame buffers go round: free -> filled by writeFrame -> queued -> written -> free.
  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::vector<uint32_t>> buffers_;
  std::vector<int> free_, queued_;  // indices into buffers_; queued_ in order
  bool stopping_ = false, dropping_ = false;
  int writeErrno_ = 0;              // set once a write failed; the thread has ended
};
