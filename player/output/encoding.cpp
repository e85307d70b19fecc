// The codec policy. See encoding.h.
#include "output/encoding.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <sstream>

namespace {
bool endsWith(const std::string& s, const char* suffix) {
  size_t n = strlen(suffix);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
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
                     const std::string& sourceAudioCodec, VideoEncoding* out, std::string* error) {
  *out = VideoEncoding();
  if (format == VideoFormat::Gif) {
    const char* option = !choice.codec.empty()     ? "--codec"
                         : choice.crf >= 0         ? "--crf"
                         : !choice.preset.empty()  ? "--preset"
                         : choice.audioBitrate > 0 ? "--audio-bitrate"
                         : choice.audioCopy        ? "--audio copy"
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
    *error =
        "--codec " + choice.codec + ": " + videoFormatName(format) + " takes " + commaList(allowed);
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
    *error =
        "--preset " + choice.preset + ": " + codec->name + " takes " + commaList(codec->presets);
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
