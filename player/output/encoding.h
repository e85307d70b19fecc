// What a video is encoded as: its container (by the output's name), what the user may
// choose about the encoding (--codec, --crf, --preset, --audio-bitrate, --audio copy),
// and the codec policy that fills in each container's defaults, says what --crf and
// --preset mean for each codec and refuses what a container cannot take; the colour
// tags and the GIF's frame timing. Pure: no process, no file. The video writer turns
// the result into ffmpeg's arguments.
#pragma once

#include <string>

enum class VideoFormat { Mp4, Mkv, Webm, Gif };

// The video format for an output name by its extension (case-insensitive); "-" (standard
// output) is Matroska, the container that needs no seeking back.
bool videoFormatFor(const std::string& path, VideoFormat* format);
const char* videoFormatName(VideoFormat format);  // "MP4", "Matroska", "WebM", "GIF"

// What the user may choose about the encoding (--codec, --crf, --preset,
// --audio-bitrate, --audio). Empty or negative fields take the container's defaults.
struct EncodingChoice {
  std::string codec;       // h264, hevc (h265), vp9, av1
  int crf = -1;            // the codec's constant-quality scale
  std::string preset;      // the codec's speed/size trade-off
  int audioBitrate = 0;    // kbit/s
  bool audioCopy = false;  // the source's audio stream as it is, not re-encoded
};

// "192k", "192" (kbit/s) -> 192; 8 to 1024.
bool parseAudioBitrate(const std::string& text, int* kbps, std::string* error);

// The encoding ffmpeg runs: the choice with the container's defaults filled in.
struct VideoEncoding {
  std::string codec;    // h264, hevc, vp9, av1 or gif
  std::string encoder;  // ffmpeg's encoder: libx264, libx265, libvpx-vp9, libsvtav1, gif
  int crf = -1;
  std::string preset;
  std::string audioEncoder;  // aac, libopus; "copy" to take the source's stream as it is
  int audioBitrate = 0;      // kbit/s
};

// Fills in the container's defaults and checks the choice against the container;
// a refusal is one line naming the option ("--codec vp9: MP4 takes h264, hevc, av1").
// sourceAudioCodec (ffprobe's name) is needed only for audioCopy.
bool resolveEncoding(VideoFormat format, const EncodingChoice& choice,
                     const std::string& sourceAudioCodec, VideoEncoding* out, std::string* error);

// Whether a container stores an audio codec (ffprobe's name) as it is.
bool containerTakesAudio(VideoFormat format, const std::string& codec);

// Colour: frames are RGB; the encoder takes 4:2:0 YUV in limited range, converted with
// the matrix players assume for the size when a file is untagged (BT.709 for HD, BT.601
// for SD) and tagged with it, so players that read the tags and players that guess agree.
struct ColourTags {
  const char* matrix;     // the scale filter's out_color_matrix: bt709 or bt601
  const char* space;      // -colorspace
  const char* primaries;  // -color_primaries
  const char* transfer;   // -color_trc
};
ColourTags colourFor(int width, int height);

// "40", "1000/30" (frames per second as ffmpeg takes them) -> 40/1, 1000/30.
bool parseFrameRate(const std::string& text, int* numerator, int* denominator);

// GIF times frames in hundredths of a second: the frame rate nearest below frameRate
// that is frameRate / n for a whole n and a whole number of hundredths per frame
// ("40" -> 20, "1000/30" -> 33.3). Sets *divisor to n; 0 for a rate that is no rate.
double gifFrameRate(const std::string& frameRate, int* divisor);
