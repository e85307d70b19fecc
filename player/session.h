// One run of the plug-in over some audio: the session owns the plug-in host, the audio
// source (a file through FFmpeg, the demo tune, or nothing for live capture), the
// analyser, the frame clock and the pinned system time, and releases them all in its
// destructor, the one clean-up path. Commands build on it; it knows nothing of SDL,
// of the command line's syntax or of where frames go.
//
// Positions: `origin` is the track sample where the feed starts (--from, or the last
// seek); frames are counted from there by the frame clock.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "audio/audio_clip.h"
#include "audio/audio_feed.h"
#include "audio/audio_source.h"
#include "cli.h"
#include "frame_clock.h"
#include "host/plugin_host.h"
#include "output/frame_view.h"
#include "spectrum/analyser.h"

class Session {
 public:
  explicit Session(const Options& options) : options_(options) {}
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The plug-in named by --plugin, or this program's own; its settings are sent where
  // it may keep them (see host/plugin_home.h).
  bool loadPlugin(std::string* error);
  PluginHost& host() { return *host_; }
  // The module that -m names, by name or index; with no -m, the one last remembered
  // (rememberModule), else the first.
  bool pickModule(int* index, std::string* error) const;
  // Keeps the running module's name for the next run without -m (play does), in
  // player.ini where the plug-in keeps its own settings.
  void rememberModule();

  // Opens the command's audio (the file, or the demo tune when there is none), checks
  // its rate, and places the feed at --from for --duration.
  bool openAudio(std::string* error);
  // A render reads a pipe or standard input once, into a scratch WAV file of the
  // decoded samples, and then from there: it can seek (--from), knows its length, and
  // the sound under a video is the very audio that was decoded. Set before openAudio.
  void keepStreamsInFile() { spoolStreams_ = true; }
  // The file that holds the audio for others to read (ffmpeg muxing it): the input,
  // or that scratch file; empty for the demo tune.
  const std::string& audioFile() const { return audioFile_; }
  // The audio's warnings since the last call (damaged stretches, an early end).
  std::vector<std::string> takeWarnings();
  // Opens another file in place of the audio (play's next and previous), the frame
  // clock and analyser made again for its rate; the module keeps running.
  bool openTrack(const std::string& path, std::string* error);
  // Live audio instead (capture): only the rate and channel count are known.
  bool useLiveAudio(int sampleRate, int channels, const std::string& name, std::string* error);
  AudioSource* audio() { return source_; }
  // The demo tune when it is the audio (it has no file for ffmpeg to read).
  const AudioClip* tune() const { return source_ == tuneSource_.get() ? &tune_ : nullptr; }
  const std::string& trackTitle() const { return title_; }
  int sampleRate() const { return rate_; }
  int streamChannels() const { return channels_; }
  // The samples chosen by --from and --duration; the length is -1 when not known.
  int64_t rangeStart() const { return rangeStart_; }
  int64_t rangeLength() const { return rangeLength_; }
  // The whole track's length in samples, or -1.
  int64_t trackLength() const { return source_ ? source_->frames() : -1; }

  // Pins the clock (--seed), starts module `index` with a frame of width x height (0 x 0:
  // the plug-in's own size) and builds the frame clock from its record. Quits a module
  // that is running first.
  bool startModule(int index, int width, int height, std::string* error);
  const FrameClock& clock() const { return clock_; }

  // Moves the audio to track sample `sample`: the feed starts again from there.
  bool seek(int64_t sample, std::string* error);
  int64_t origin() const { return origin_; }
  AudioFeed& feed() { return *feed_; }

  // Analyses frame `frame` (counted from the origin) and has the module render it.
  void renderFrame(int64_t frame);
  // The same for a window the caller gathered (capture): frame samples [begin, end).
  void renderWindow(const float* window, int begin, int end);
  int analysisLength() const { return spectrumWindowLength(analyser_); }
  bool pixels(FrameView* view) const;

 private:
  bool makeAnalyser(std::string* error);
  bool openFile(const std::string& path, std::string* error);
  void pinClock();

  Options options_;
  std::unique_ptr<PluginHost> host_;
  AudioClip tune_;
  std::unique_ptr<AudioSource> tuneSource_;
  std::unique_ptr<AudioSource> file_;
  AudioSource* source_ = nullptr;
  std::unique_ptr<AudioFeed> feed_;
  SpectrumAnalyser* analyser_ = nullptr;
  FrameClock clock_;
  bool clockPinned_ = false;
  std::string title_;
  std::string settingsFile_;  // player.ini
  bool spoolStreams_ = false;
  std::string spool_;      // the scratch WAV of a stream, removed with the session
  std::string audioFile_;
  std::vector<std::string> warnings_;
  int rate_ = 0, channels_ = 0;
  int64_t rangeStart_ = 0, rangeLength_ = -1, origin_ = 0;
};

// The plug-in of this program: beside its binary, or in an installed copy's private
// library folder (see host/plugin_home.h).
std::string defaultPluginPath();
