// One run of the plug-in over some audio, and the one frame pipeline of the player and
// its tools: `render`, `play`, the paced bench and the look tool all drive it. The
// session owns the plug-in host, the audio source (a file through FFmpeg, a clip in
// memory, the demo tune, or nothing for live capture), the analyser, the frame clock
// and the pinned system time, and releases them all in its destructor, the one
// clean-up path. It is set up from SessionSettings, which the commands fill from the
// command line; it knows nothing of SDL, of the command line's syntax or of where
// frames go.
//
//   Session session(settings);
//   if (!session.open(&error)) ...          // plug-in, module, audio, module started
//   while (session.nextFrame()) ...         // analyse, draw; false at the audio's end
//
// Positions: `origin` is the track sample where the feed starts (--from, or the last
// seek); frames are counted from there by the frame clock.
#pragma once

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_clip.h"
#include "audio/audio_feed.h"
#include "audio/audio_source.h"
#include "frame_clock.h"
#include "host/plugin_host.h"
#include "output/frame_view.h"
#include "spectrum/analyser.h"

// What a session is set up from; what the commands take from their command line.
struct SessionSettings {
  std::string plugin;               // empty: this program's own (defaultPluginPath)
  std::string module;               // a name or an index; empty: the one remembered, else the first
  std::vector<std::string> tracks;  // audio files, in order; open() starts the first that opens
  const AudioClip* clip = nullptr;  // no tracks: audio the caller holds (else the demo tune)
  double from = 0;                  // seconds into the first track
  double duration = -1;             // seconds of audio; <= 0: to the end
  bool seeded = false;
  unsigned long seed = 0;     // pins the clock the plug-in seeds its generator from
  int width = 0, height = 0;  // the module's frame window; 0 x 0: the plug-in's own size
  SpectrumOptions spectrum;
  bool strict = false;  // damaged audio fails the run instead of a warning
  // A pipe or standard input is read once into a scratch WAV of the decoded samples,
  // and then from there: it can seek (--from), knows its length, and the sound under a
  // video is the very audio that was decoded (render). With `refuseSpooled`, such an
  // input fails instead, after its reading: its sound was to be copied (--audio copy).
  bool spoolStreams = false;
  bool refuseSpooled = false;
  // The frames end with the last whole one: a last, partial frame would be measured on
  // zeros (the look tool). Otherwise the partial one is drawn too.
  bool wholeFramesOnly = false;
  HostEvents* events = nullptr;  // where the host reports keys and requests (play)
};

// Live audio (capture), opened by the caller when open() comes to the audio.
struct LiveAudio {
  int sampleRate = 0, channels = 0;
  std::string name;
};
using LiveOpener = std::function<bool(LiveAudio* audio, std::string* error)>;

// The frame analysed last: its analysis window, the frame's own samples in it (window
// frames [begin, end)) and the spectrum the module gets.
struct FrameAudio {
  const float* window = nullptr;
  int begin = 0, end = 0;
  unsigned char spectrum[2][SPECTRUM_BANDS];
};

class Session {
 public:
  explicit Session(SessionSettings settings) : settings_(std::move(settings)) {}
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The set-up, in order: the plug-in (its settings sent where it may keep them, see
  // host/plugin_home.h), the module, the audio (the first of the tracks that opens, the
  // clip, the demo tune, or `live`'s), the clock pinned and the module started. On
  // failure *error is one line, and usageError() says whether it was a module name the
  // plug-in does not have.
  bool open(std::string* error, const LiveOpener& live = nullptr);
  bool usageError() const { return usageError_; }
  // The plug-in alone, the first step of open() (what `list` needs).
  bool loadPlugin(std::string* error);
  // The tracks open() passed over, each with why ("<file>: not an audio file").
  std::vector<std::string> takeSkipped();

  // The frame pipeline. nextFrame() analyses the next frame and has the module draw it;
  // false at the end: after the range's last frame (see wholeFramesOnly), or where the
  // audio stopped before its stated length. The two halves apart, for a caller that
  // looks at the audio first or draws nothing (the look tool's hearing).
  bool nextFrame();
  bool analyseNext();
  void draw();
  const FrameAudio& frameAudio() const { return audio_; }
  int64_t frame() const { return frame_; }  // the frame analysed last
  // The frames the range makes, or INT64_MAX while its length is not known.
  int64_t frames() const;
  // No frames after the first `count` (a snapshot needs no more).
  void stopAfter(int64_t count) { limit_ = count; }
  // Whether the audio has ended and `samples`, counted from the origin, reach its end.
  bool reachedEnd(int64_t samples) const;

  PluginHost& host() { return *host_; }
  // Keeps the running module's name for the next run with no module named (play does),
  // in player.ini where the plug-in keeps its own settings.
  void rememberModule();
  // The file that holds the audio for others to read (ffmpeg muxing it): the input,
  // or its scratch copy; empty for audio in memory.
  const std::string& audioFile() const { return audioFile_; }
  // The audio's warnings since the last call (damaged stretches, an early end).
  std::vector<std::string> takeWarnings();
  AudioSource* audio() { return source_; }
  // The audio in memory when it is that (it has no file for ffmpeg to read).
  const AudioClip* clip() const {
    return source_ && source_ == clipSource_.get() ? clip_ : nullptr;
  }
  const std::string& trackTitle() const { return title_; }
  int sampleRate() const { return rate_; }
  int streamChannels() const { return channels_; }
  // The samples chosen by from and duration; the length is -1 when not known.
  int64_t rangeStart() const { return rangeStart_; }
  int64_t rangeLength() const { return rangeLength_; }
  // The whole track's length in samples, or -1.
  int64_t trackLength() const { return source_ ? source_->frames() : -1; }
  const FrameClock& clock() const { return clock_; }
  int analysisLength() const { return spectrumWindowLength(analyser_.get()); }
  bool pixels(FrameView* view) const;

  // What play needs besides: another module, another track of the list, a seek, and
  // frames where its clock has come to (or windows of live audio), not one after another.
  // Quits the running module and starts module `index` with a frame of width x height.
  bool startModule(int index, int width, int height, std::string* error);
  // Track `index` of the list from its start in place of the audio, the frame clock and
  // analyser made again for its rate; the module keeps running.
  bool openTrack(int index, std::string* error);
  int track() const { return track_; }
  int trackCount() const { return (int)settings_.tracks.size(); }
  // Moves the audio to track sample `sample`: the feed starts again from there.
  bool seek(int64_t sample, std::string* error);
  int64_t origin() const { return origin_; }
  AudioFeed& feed() { return *feed_; }
  // Analyses frame `frame` (counted from the origin) and has the module draw it.
  void renderFrame(int64_t frame);
  // The same for a window the caller gathered (capture): frame samples [begin, end).
  void renderWindow(const float* window, int begin, int end);

 private:
  bool pickModule(int* index, std::string* error);
  bool openAudio(const std::string& path, double from, std::string* error);
  bool openFile(const std::string& path, std::string* error);
  bool makeAnalyser(std::string* error);
  void pinClock();

  SessionSettings settings_;
  std::unique_ptr<PluginHost> host_;
  AudioClip tune_;
  const AudioClip* clip_ = nullptr;  // the clip in use: the settings' or the demo tune
  std::unique_ptr<AudioSource> clipSource_;
  std::unique_ptr<AudioSource> file_;
  AudioSource* source_ = nullptr;
  std::unique_ptr<AudioFeed> feed_;
  SpectrumAnalyserPtr analyser_;
  FrameClock clock_;
  FrameAudio audio_;
  int64_t frame_ = -1, limit_ = INT64_MAX;
  bool clockPinned_ = false;
  bool usageError_ = false;
  std::vector<std::string> skipped_;
  int track_ = 0;
  std::string title_;
  std::string settingsFile_;  // player.ini
  std::string spool_;         // the scratch WAV of a stream, removed with the session
  std::string audioFile_;
  std::vector<std::string> warnings_;
  int rate_ = 0, channels_ = 0;
  int64_t rangeStart_ = 0, rangeLength_ = -1, origin_ = 0;
};

// The plug-in of this program: beside its binary, or in an installed copy's private
// library folder (see host/plugin_home.h).
std::string defaultPluginPath();
