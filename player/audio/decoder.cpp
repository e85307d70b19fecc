// The decoding loop is FFmpeg's send/receive pair: packets of the chosen stream go in,
// frames come out, and the end of the file is a null packet that drains the decoder.
#include "audio/decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>  // av_max_alloc
#include <libswresample/swresample.h>
}
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>  // isatty

#include <algorithm>

#include "base/text.h"  // formatClock

namespace {
std::string ffmpegText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

std::string baseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "m:ss.s" for error messages about a place in the file.
std::string clockText(int64_t frame, int rate) {
  return formatClock(rate > 0 ? (double)frame / rate : 0, ClockStyle::Tenths);
}

const char* tag(AVDictionary* tags, const char* key) {
  AVDictionaryEntry* e = av_dict_get(tags, key, nullptr, 0);
  return e && e->value[0] ? e->value : nullptr;
}
}  // namespace

AudioDecoder::~AudioDecoder() {
  swr_free(&swr_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  avcodec_free_context(&codecContext_);
  avformat_close_input(&format_);
  avio_closep(&pipe_);  // a reader of our own is not closed with the format
}

namespace {
// The cases a path can fail in before FFmpeg sees it. `name` is how messages call it;
// *stream says that it is a pipe or socket, read once from start to end.
bool checkPath(const std::string& path, const std::string& name, bool* stream,
               std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *error = name + (errno == ENOENT ? std::string(": no such file")
                                     : ": cannot read: " + std::string(strerror(errno)));
    return false;
  }
  *stream = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
  if (S_ISDIR(info.st_mode)) {
    *error = name + ": is a directory, not an audio file";
    return false;
  }
  if (S_ISCHR(info.st_mode) && isatty(0) && (path == "/dev/stdin" || path == "/dev/fd/0")) {
    *error = name + " is a terminal; pipe the audio in (cat song.flac | orlimvis ... -)";
    return false;
  }
  // /dev/zero would feed the format probe zeros forever; a disk is no audio file.
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
    *error = name + ": is a device, not an audio file";
    return false;
  }
  if (!*stream && info.st_size == 0) {
    *error = name + ": not an audio file (it is empty)";
    return false;
  }
  return true;
}
}  // namespace

bool AudioDecoder::open(const std::string& path, std::string* error) {
  // FFmpeg's own log would add lines of its own to stderr; its errors reach the user
  // through the codes it returns, in the one line the player prints.
  av_log_set_level(AV_LOG_QUIET);
  // FFmpeg sizes some buffers from what a header states: a 114-byte WAV whose info
  // chunk claims 4 GB had it allocate and clear 1.7 GB before finding the file bad.
  // No block that decoding audio needs comes near this (a day-long M4A's index is
  // about 90 MB), so a larger request is refused and the file reported as bad.
  av_max_alloc(256 << 20);
  path_ = path == "-" ? "standard input" : path;
  openPath_ = path == "-" ? "/dev/stdin" : path;
  const AVCodec* codec = nullptr;
  if (!checkPath(openPath_, path_, &streamInput_, error) || !openStream(&codec, error) ||
      !openCodec(codec, error)) {
    return false;
  }
  AVStream* stream = format_->streams[stream_];
  if (stream->duration > 0 && stream->duration != AV_NOPTS_VALUE) {
    frames_ = av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate_});
  } else if (format_->duration > 0) {
    frames_ = av_rescale_q(format_->duration, AVRational{1, AV_TIME_BASE}, AVRational{1, rate_});
  }
  // Only the stream's own stated length says where its audio must end: the container's
  // may be a video's, longer than its sound, and one worked out from the bit rate is a
  // guess, so a file shorter than either is not necessarily damaged.
  reliableLength_ = stream->duration > 0 && stream->duration != AV_NOPTS_VALUE &&
                    format_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;

  // Tags live on the container (MP4, MP3, FLAC) or on the stream (Ogg).
  const char* title = tag(format_->metadata, "title");
  const char* artist = tag(format_->metadata, "artist");
  if (!title) title = tag(stream->metadata, "title");
  if (!artist) artist = tag(stream->metadata, "artist");
  title_ = title ? (artist ? std::string(artist) + " - " + title : std::string(title))
                 : baseName(path_);
  return true;
}

bool AudioDecoder::openStream(const AVCodec** codec, std::string* error) {
  const std::string& path = path_;
  // "file:" keeps a name with a colon (or one FFmpeg would take for a protocol) a file.
  const std::string url = "file:" + openPath_;
  int code = 0;
  if (streamInput_) {
    // A pipe's reader is opened here, so that after a failure the count of bytes it
    // read can tell an empty pipe from one that carried something else.
    code = avio_open(&pipe_, url.c_str(), AVIO_FLAG_READ);
    format_ = code < 0 ? nullptr : avformat_alloc_context();
    if (format_) format_->pb = pipe_;
    else if (code >= 0) code = AVERROR(ENOMEM);
  }
  if (code >= 0) code = avformat_open_input(&format_, url.c_str(), nullptr, nullptr);
  if (code < 0 && pipe_ && pipe_->bytes_read == 0) {
    *error = path + ": nothing came through the pipe";
    return false;
  }
  if (code < 0) {
    // Only a failure to read the bytes is a read error; anything else FFmpeg says at
    // this point means it found no format it knows in them.
    bool readFailed = code == AVERROR(EACCES) || code == AVERROR(EIO);
    *error = path + (readFailed ? ": cannot read: " + ffmpegText(code)
                                : ": not an audio file (" + ffmpegText(code) + ")");
    return false;
  }
  code = avformat_find_stream_info(format_, nullptr);
  if (code < 0) {
    *error = path + ": not an audio file (" + ffmpegText(code) + ")";
    return false;
  }
  stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, codec, 0);
  if (stream_ == AVERROR_DECODER_NOT_FOUND) {
    // The stream is there, but this FFmpeg cannot decode it: name the codec.
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
      const AVCodecParameters* p = format_->streams[i]->codecpar;
      if (p->codec_type != AVMEDIA_TYPE_AUDIO) continue;
      char what[64];
      if (p->codec_id == AV_CODEC_ID_NONE) snprintf(what, sizeof what, "tag 0x%04x", p->codec_tag);
      else snprintf(what, sizeof what, "'%s'", avcodec_get_name(p->codec_id));
      *error = path + ": unsupported audio codec (" + what + ")";
      return false;
    }
  }
  if (stream_ < 0) {
    *error = path + (format_->nb_streams == 0 ? ": not an audio file (no streams in it)"
                                              : ": no audio stream in the file");
    return false;
  }
  // Only the audio is read: a video's pictures are skipped by the demuxer.
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    if ((int)i != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
  }
  return true;
}

bool AudioDecoder::openCodec(const AVCodec* codec, std::string* error) {
  const std::string& path = path_;
  codecContext_ = avcodec_alloc_context3(codec);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!codecContext_ || !packet_ || !frame_) {
    *error = path + ": cannot read: out of memory";
    return false;
  }
  int code = avcodec_parameters_to_context(codecContext_, format_->streams[stream_]->codecpar);
  if (code >= 0) code = avcodec_open2(codecContext_, codec, nullptr);
  if (code < 0) {
    *error = path + ": unsupported audio codec '" + codec->name + "': " + ffmpegText(code);
    return false;
  }
  codec_ = codec->name;
  rate_ = codecContext_->sample_rate;
  channels_ = codecContext_->ch_layout.nb_channels;
  if (rate_ <= 0 || channels_ <= 0) {
    *error = path + ": not an audio file (the audio stream has no rate or channels)";
    return false;
  }
  return true;
}

std::vector<std::string> AudioDecoder::takeWarnings() {
  std::vector<std::string> out;
  out.swap(warnings_);
  return out;
}

// Players and ffmpeg skip what does not decode and go on with the next packet; the
// user hears (and here, sees) a short gap. The first such place is told at once, the
// rest are counted and told once at the end, so a badly damaged file gives two lines,
// not thousands.
bool AudioDecoder::damaged(int code) {
  if (strict_) {
    fail("damaged audio", code);
    return false;
  }
  // A decoder that keeps failing with nothing in between is no longer decoding.
  if (++failedInARow_ > 1000) {
    warnings_.push_back(path_ + ": the audio does not decode from " + clockText(decoded_, rate_) +
                        " on (" + ffmpegText(code) + "); it ends there");
    ended_ = true;
    return false;
  }
  if (damage_++ == 0) {
    firstDamage_ = decoded_;
    warnings_.push_back(path_ + ": damaged audio at " + clockText(decoded_, rate_) +
                        " skipped (" + ffmpegText(code) + ")");
  }
  lastDamage_ = decoded_;
  return true;
}

// A read that failed part way (a disk error, a container that makes no more sense):
// what came before is kept.
bool AudioDecoder::unreadable(int code) {
  if (strict_) {
    fail("read error", code);
    return false;
  }
  warnings_.push_back(path_ + ": cannot read on from " + clockText(decoded_, rate_) + " (" +
                      ffmpegText(code) + "); the audio ends there");
  return true;
}

void AudioDecoder::noteEnd() {
  if (damage_ > 1) {
    warnings_.push_back(path_ + ": " + std::to_string(damage_ - 1) +
                        " more damaged stretches skipped, the last at " +
                        clockText(lastDamage_, rate_));
  }
  damage_ = 0;
  // The end came long before the length the container states: the file was cut short.
  if (error_.empty() && reliableLength_ && decoded_ + rate_ / 2 < frames_ && skipUntil_ < frames_) {
    std::string text = path_ + ": the audio stops at " + clockText(decoded_, rate_) + " of " +
                       clockText(frames_, rate_) + ": the file is truncated";
    if (strict_) error_ = text;
    else warnings_.push_back(text + "; kept what decodes");
  }
}

void AudioDecoder::fail(const std::string& what, int code) {
  if (error_.empty()) {
    error_ = path_ + ": " + what + " at " + clockText(decoded_, rate_) + ": " + ffmpegText(code);
  }
  ended_ = true;
}

// Any sample format and layout into interleaved float at the same rate: two channels,
// or one for mono (doubled afterwards). Made again when a stream changes its format.
bool AudioDecoder::setUpConverter(const AVFrame* frame) {
  swr_free(&swr_);
  AVChannelLayout in = {};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels == 0) {
    av_channel_layout_default(&in, frame->ch_layout.nb_channels ? frame->ch_layout.nb_channels
                                                                 : channels_);
  } else {
    av_channel_layout_copy(&in, &frame->ch_layout);
  }
  AVChannelLayout out = {};
  av_channel_layout_default(&out, in.nb_channels == 1 ? 1 : 2);
  int code = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_FLT, frame->sample_rate, &in,
                                 (AVSampleFormat)frame->format, frame->sample_rate, 0, nullptr);
  if (code >= 0) code = swr_init(swr_);
  av_channel_layout_uninit(&in);
  av_channel_layout_uninit(&out);
  if (code < 0) {
    fail("cannot convert the samples", code);
    return false;
  }
  swrFormat_ = frame->format;
  swrChannels_ = frame->ch_layout.nb_channels;
  return true;
}

bool AudioDecoder::convert(const AVFrame* frame) {
  const int n = frame->nb_samples;
  if ((!swr_ || swrFormat_ != frame->format || swrChannels_ != frame->ch_layout.nb_channels) &&
      !setUpConverter(frame)) {
    return false;
  }
  // Where this frame starts in the stream: its time stamp when it has one (after a seek
  // that is the only way to know), else straight after the previous one.
  int64_t start = decoded_;
  int64_t pts = frame->best_effort_timestamp;
  if (pts != AV_NOPTS_VALUE) {
    AVStream* stream = format_->streams[stream_];
    if (stream->start_time != AV_NOPTS_VALUE) pts -= stream->start_time;
    start = av_rescale_q(pts, stream->time_base, AVRational{1, rate_});
  }
  decoded_ = start + n;
  int drop = (int)std::min<int64_t>(n, std::max<int64_t>(0, skipUntil_ - start));
  if (drop == n) return true;

  if (pendingAt_ > 0) {
    pending_.erase(pending_.begin(), pending_.begin() + (long)pendingAt_ * 2);
    pendingAt_ = 0;
  }
  // Mono converts into its own buffer and is doubled on the way into pending_.
  const bool mono = frame->ch_layout.nb_channels == 1;
  const size_t base = pending_.size();
  std::vector<float>& target = mono ? mono_ : pending_;
  target.resize(mono ? (size_t)n : base + (size_t)n * 2);
  uint8_t* outPlanes[1] = {(uint8_t*)(mono ? target.data() : target.data() + base)};
  int got = swr_convert(swr_, outPlanes, n, (const uint8_t**)frame->extended_data, n);
  if (got < 0) {
    pending_.resize(base);
    fail("cannot convert the samples", got);
    return false;
  }
  pending_.resize(base + (size_t)got * 2);
  if (mono) {
    for (int i = 0; i < got; ++i) {
      pending_[base + (size_t)i * 2] = pending_[base + (size_t)i * 2 + 1] = mono_[(size_t)i];
    }
  }
  drop = std::min(drop, got);
  pending_.erase(pending_.begin() + (long)base, pending_.begin() + (long)(base + (size_t)drop * 2));
  // The first frame kept after a seek: a demuxer that landed past the target moves the
  // position with it.
  if (seeking_) {
    next_ = std::max(next_, start + drop);
    seeking_ = false;
  }
  return true;
}

bool AudioDecoder::decodeMore() {
  while (!ended_) {
    int code = avcodec_receive_frame(codecContext_, frame_);
    if (code >= 0) {
      failedInARow_ = 0;
      bool ok = convert(frame_);
      av_frame_unref(frame_);
      if (!ok) return false;
      if (pending_.size() / 2 > pendingAt_) return true;
      continue;
    }
    if (code == AVERROR_EOF) {
      ended_ = true;
      break;
    }
    if (code != AVERROR(EAGAIN)) {
      if (!damaged(code)) return false;
      continue;
    }
    if (flushed_) {
      ended_ = true;
      break;
    }
    code = av_read_frame(format_, packet_);
    if (code == AVERROR_EOF) {
      flushed_ = true;
      avcodec_send_packet(codecContext_, nullptr);
      continue;
    }
    if (code < 0) {
      if (!unreadable(code)) return false;
      flushed_ = true;
      avcodec_send_packet(codecContext_, nullptr);
      continue;
    }
    if (packet_->stream_index == stream_) {
      code = avcodec_send_packet(codecContext_, packet_);
      if (code < 0 && code != AVERROR(EAGAIN)) {
        av_packet_unref(packet_);
        if (!damaged(code)) return false;
        continue;
      }
    }
    av_packet_unref(packet_);
  }
  noteEnd();
  return false;
}

int64_t AudioDecoder::read(float* out, int64_t frames) {
  int64_t done = 0;
  while (done < frames) {
    size_t available = pending_.size() / 2 - pendingAt_;
    if (available == 0) {
      if (!decodeMore()) break;
      continue;
    }
    size_t n = (size_t)std::min<int64_t>((int64_t)available, frames - done);
    const float* from = pending_.data() + pendingAt_ * 2;
    std::copy(from, from + n * 2, out + done * 2);
    pendingAt_ += n;
    done += (int64_t)n;
    next_ += (int64_t)n;
  }
  if (pendingAt_ == pending_.size() / 2) {
    pending_.clear();
    pendingAt_ = 0;
  }
  return done;
}

// A pipe cannot seek: going forward reads and drops what lies between.
bool AudioDecoder::skipTo(int64_t frame, std::string* error) {
  if (frame < next_) {
    *error = path_ + ": cannot go back to " + clockText(frame, rate_) + " in a stream";
    return false;
  }
  std::vector<float> scratch(2 * 4096);
  while (next_ < frame) {
    if (read(scratch.data(), std::min<int64_t>(4096, frame - next_)) == 0) break;
  }
  return true;
}

bool AudioDecoder::seek(int64_t frame, std::string* error) {
  frame = std::max<int64_t>(0, frame);
  if (streamInput_) return skipTo(frame, error);
  AVStream* stream = format_->streams[stream_];
  int64_t ts = av_rescale_q(frame, AVRational{1, rate_}, stream->time_base);
  if (stream->start_time != AV_NOPTS_VALUE) ts += stream->start_time;
  int code = av_seek_frame(format_, stream_, ts, AVSEEK_FLAG_BACKWARD);
  if (code < 0 && frame == 0) code = av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE);
  if (code < 0) {
    *error = path_ + ": cannot seek to " + clockText(frame, rate_) + ": " + ffmpegText(code);
    return false;
  }
  avcodec_flush_buffers(codecContext_);
  pending_.clear();
  pendingAt_ = 0;
  flushed_ = ended_ = false;
  error_.clear();
  // Until a time stamp says otherwise, what comes is assumed to start at the target.
  decoded_ = frame;
  skipUntil_ = frame;
  seeking_ = true;
  next_ = frame;
  return true;
}
