// Audio files through FFmpeg's libraries (libavformat demuxes, libavcodec decodes,
// libswresample turns any sample format and channel layout into two float channels at
// the stream's own rate). Every container and codec that the installed FFmpeg reads is
// accepted, the audio track of a video file included. The file is streamed: memory
// stays constant whatever the length, and seeking goes through the demuxer.
//
// Channels: mono is doubled; two channels pass as they are; more are mixed down to two
// by FFmpeg's standard matrix (so a 5.1 film's centre channel is heard and seen).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "audio/audio_source.h"

struct AVFormatContext;
struct AVIOContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

class AudioDecoder : public AudioSource {
 public:
  AudioDecoder() = default;
  AudioDecoder(const AudioDecoder&) = delete;
  AudioDecoder& operator=(const AudioDecoder&) = delete;
  ~AudioDecoder() override;

  // Opens the file and its best audio stream. Errors are one line, "<path>: <case>",
  // the case one of: no such file, is a directory, is a device, not an audio file (it
  // is empty, or nothing came down the pipe), no audio stream, unsupported codec,
  // cannot read (with FFmpeg's own text where it has one). "-" is standard input,
  // called so in messages; it and any pipe are read as a stream, which cannot go back.
  bool open(const std::string& path, std::string* error);

  // Damage part way through: by default a packet that does not decode is skipped and
  // a file that ends early (or cannot be read further) ends there, each with a warning
  // (takeWarnings); strict, either stops the reading with error() set. Set before
  // reading.
  void setStrict(bool strict) { strict_ = strict; }
  std::vector<std::string> takeWarnings() override;
  // Whether the input is a stream (a pipe, standard input) rather than a file.
  bool isStream() const { return streamInput_; }

  int sampleRate() const override { return rate_; }
  int streamChannels() const override { return channels_; }
  int64_t frames() const override { return frames_; }
  std::string title() const override { return title_; }
  const std::string& codecName() const { return codec_; }
  bool seek(int64_t frame, std::string* error) override;
  int64_t read(float* out, int64_t frames) override;
  std::string error() const override { return error_; }
  // The frame the next read starts at.
  int64_t position() const { return next_; }

 private:
  bool openStream(const struct AVCodec** codec, std::string* error);
  bool openCodec(const struct AVCodec* codec, std::string* error);
  bool setUpConverter(const AVFrame* frame);
  bool decodeMore();  // converts one more decoded frame into pending_; false at the end
  bool convert(const AVFrame* frame);
  void fail(const std::string& what, int code);
  bool damaged(int code);     // a packet or frame that did not decode; false: stop
  bool unreadable(int code);  // the demuxer failed; false: stop with an error
  void noteEnd();             // the warnings (or error) of an end that came early
  bool skipTo(int64_t frame, std::string* error);  // a stream's "seek": read forward

  bool strict_ = false;
  bool streamInput_ = false;
  std::vector<std::string> warnings_;
  int damage_ = 0;                    // stretches skipped...
  int64_t firstDamage_ = 0, lastDamage_ = 0;  // ...the first and last at these frames
  int failedInARow_ = 0;              // decoder errors with no frame between them

  std::string path_;      // as messages call it ("standard input" for "-")
  std::string openPath_;  // as it is opened
  AVFormatContext* format_ = nullptr;
  AVIOContext* pipe_ = nullptr;  // a stream's reader (files: FFmpeg's own)
  AVCodecContext* codecContext_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwrContext* swr_ = nullptr;
  int swrFormat_ = -1, swrChannels_ = 0;  // what swr_ was set up for
  int stream_ = -1;
  int rate_ = 0, channels_ = 0;
  int64_t frames_ = -1;
  bool reliableLength_ = false;
  std::string title_, codec_, error_;

  std::vector<float> pending_;  // converted stereo frames not yet read...
  size_t pendingAt_ = 0;        // ...from this frame of pending_ on
  std::vector<float> mono_;
  int64_t next_ = 0;            // stream frame of the next frame read() returns
  int64_t decoded_ = 0;         // stream frame just past the last converted frame
  int64_t skipUntil_ = 0;       // after a seek: frames before this are dropped
  bool flushed_ = false, ended_ = false;
  bool seeking_ = false;        // no frame kept since the last seek
};
