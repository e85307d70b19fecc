// Video output through the ffmpeg program: raw frames go down a socket to a child ffmpeg,
// which encodes them and muxes in an audio file. A file is written under a temporary
// name and renamed when ffmpeg has finished successfully; on failure or abort the child
// is stopped and the temporary file removed. "-" writes Matroska to standard output.
//
// What ffmpeg is asked to do is decided here, from settings the command layer fills in
// (sizes, audio range, the user's encoding choices, resolved by output/encoding.h); the
// command layer never builds an ffmpeg argument itself.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "base/child_process.h"  // Sent
#include "output/encoding.h"     // VideoFormat, EncodingChoice, VideoEncoding
#include "output/frame_scale.h"
#include "output/frame_view.h"
#include "output/output_file.h"

// The codec of the first audio stream of a file, as ffprobe names it ("flac").
bool probeAudioCodec(const std::string& ffprobe, const std::string& path, std::string* codec,
                     std::string* error);

struct VideoSettings {
  int width = 0, height = 0;
  std::string frameRate;         // frames per second as ffmpeg takes it ("50", "1000/30")
  std::string audioPath;         // muxed in when not empty (not for GIF)...
  double audioStart = 0;         // ...from this time in it...
  double audioDuration = -1;     // ...for this long (< 0: to its end)
  EncodingChoice encoding;
  IfExists ifExists = IfExists::Refuse;  // -y replaces an existing output
};

// The ffmpeg command line that reads raw frames on standard input and writes `target`
// ("file:..." or "pipe:1"). For GIF this is the first of three runs: frames at the
// GIF's rate into a lossless scratch file.
std::vector<std::string> encoderArguments(const std::string& ffmpeg, VideoFormat format,
                                          const VideoSettings& settings,
                                          const VideoEncoding& encoding,
                                          const std::string& target);

// The reason to report when ffmpeg failed, from its log: the system's text when the log
// holds one ("No space left on device"), else its last line; either way with any
// temporary name replaced by the name the user gave.
std::string failureReason(const std::string& log, const std::string& temporaryPath,
                          const std::string& shownAs);

class VideoWriter {
 public:
  VideoWriter() = default;
  VideoWriter(const VideoWriter&) = delete;
  VideoWriter& operator=(const VideoWriter&) = delete;
  ~VideoWriter() { abort(); }

  // Starts ffmpeg writing to a temporary name beside path, or to standard output for
  // "-". Errors name path; a choice the container cannot take is refused here.
  bool open(const std::string& ffmpeg, const std::string& path, VideoFormat format,
            const VideoSettings& settings, std::string* error);
  bool writeFrame(const FrameView& frame, std::string* error);
  // The frame scaled up to the output's size on the way (the scaler set up for it).
  bool writeFrame(const FrameView& frame, FrameScaler& scaler, std::string* error);
  // Closes the pipe, waits for ffmpeg, and renames the file on success. On failure the
  // error is "<path>: <reason>", followed by the last lines of ffmpeg's log when the
  // reason is ffmpeg's rather than the system's.
  bool finish(std::string* error);
  // Stops ffmpeg and removes the temporary file.
  void abort();
  // Bytes written to the output (after finish), for the closing report.
  long long outputSize() const { return size_; }

 private:
  // Starts the first ffmpeg with the frames' socket as its standard input.
  bool startEncoder(const std::vector<std::string>& args, std::string* error);
  bool reap(std::string* error);
  bool sentFrame(Sent sent, std::string* error);  // after a frame's writes
  bool runToEnd(std::vector<std::string> args, std::string* error);
  std::string explain(const std::string& logText) const;
  std::string readLog() const;
  void removeScratch();

  std::string ffmpeg_;
  std::string shownAs_;          // the output as the user named it
  VideoFormat format_ = VideoFormat::Mp4;
  PendingFile file_;
  bool toStdout_ = false;
  std::string logPath_;          // in the scratch folder, not the output's
  std::string gifFrames_, gifPalette_;  // scratch files of the GIF's later runs
  pid_t child_ = -1;
  int pipe_ = -1;
  int width_ = 0, height_ = 0;
  long long size_ = 0;
  std::string rowBuffer_;
};
