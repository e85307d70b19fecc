// Video output through the ffmpeg program: raw frames go down a socket to a child ffmpeg,
// which encodes them and muxes in an audio file. A file is written under a temporary
// name and renamed when ffmpeg has finished successfully; on failure or abort the child
// is stopped and the temporary file removed. "-" writes Matroska to standard output.
//
// What ffmpeg is asked to do is decided here, from settings the command layer fills in
// (sizes, audio range, the user's encoding choices); the command layer never builds an
// ffmpeg argument itself.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "output/frame_scale.h"
#include "output/frame_view.h"
#include "output/output_file.h"

enum class VideoFormat { Mp4, Mkv, Webm, Gif };

// The video format for an output name by its extension (case-insensitive); "-" (standard
// output) is Matroska, the container that needs no seeking back.
bool videoFormatFor(const std::string& path, VideoFormat* format);
const char* videoFormatName(VideoFormat format);  // "MP4", "Matroska", "WebM", "GIF"

// The full path of `program` found on PATH, or empty.
std::string findOnPath(const std::string& program);

// What the user may choose about the encoding (--codec, --crf, --preset,
// --audio-bitrate, --audio). Empty or negative fields take the container's defaults.
struct EncodingChoice {
  std::string codec;        // h264, hevc (h265), vp9, av1
  int crf = -1;             // the codec's constant-quality scale
  std::string preset;       // the codec's speed/size trade-off
  int audioBitrate = 0;     // kbit/s
  bool audioCopy = false;   // the source's audio stream as it is, not re-encoded
};

// "192k", "192" (kbit/s) -> 192; 8 to 1024.
bool parseAudioBitrate(const std::string& text, int* kbps, std::string* error);

// The encoding ffmpeg runs: the choice with the container's defaults filled in.
struct VideoEncoding {
  std::string codec;        // h264, hevc, vp9, av1 or gif
  std::string encoder;      // ffmpeg's encoder: libx264, libx265, libvpx-vp9, libsvtav1, gif
  int crf = -1;
  std::string preset;
  std::string audioEncoder; // aac, libopus; "copy" to take the source's stream as it is
  int audioBitrate = 0;     // kbit/s
};

// Fills in the container's defaults and checks the choice against the container;
// a refusal is one line naming the option ("--codec vp9: MP4 takes h264, hevc, av1").
// sourceAudioCodec (ffprobe's name) is needed only for audioCopy.
bool resolveEncoding(VideoFormat format, const EncodingChoice& choice,
                     const std::string& sourceAudioCodec, VideoEncoding* out,
                     std::string* error);

// Whether a container stores an audio codec (ffprobe's name) as it is.
bool containerTakesAudio(VideoFormat format, const std::string& codec);

// The codec of the first audio stream of a file, as ffprobe names it ("flac").
bool probeAudioCodec(const std::string& ffprobe, const std::string& path, std::string* codec,
                     std::string* error);

// Colour: frames are RGB; the encoder takes 4:2:0 YUV in limited range, converted with
// the matrix players assume for the size when a file is untagged (BT.709 for HD, BT.601
// for SD) and tagged with it, so players that read the tags and players that guess agree.
struct ColourTags {
  const char* matrix;       // the scale filter's out_color_matrix: bt709 or bt601
  const char* space;        // -colorspace
  const char* primaries;    // -color_primaries
  const char* transfer;     // -color_trc
};
ColourTags colourFor(int width, int height);

// "40", "1000/30" (frames per second as ffmpeg takes them) -> 40/1, 1000/30.
bool parseFrameRate(const std::string& text, int* numerator, int* denominator);

// GIF times frames in hundredths of a second: the frame rate nearest below frameRate
// that is frameRate / n for a whole n and a whole number of hundredths per frame
// ("40" -> 20, "1000/30" -> 33.3). Sets *divisor to n; 0 for a rate that is no rate.
double gifFrameRate(const std::string& frameRate, int* divisor);

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
  bool sentFrame(int outcome, std::string* error);  // a Sent, after a frame's writes
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
