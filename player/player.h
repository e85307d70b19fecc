// The player object: one run of an orlimvis command, holding everything it builds (the
// plug-in host, the audio, the analyser) and releasing it all through its destructor,
// the one clean-up path. Each command returns 0 or sets a one-line error and returns
// non-zero; nothing in here exits the process.
#pragma once

#include <memory>
#include <string>

#include "audio/audio_clip.h"
#include "cli.h"
#include "host/plugin_host.h"
#include "spectrum/analyser.h"

class Player {
 public:
  explicit Player(Options options) : options_(std::move(options)) {}
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Runs the command; returns the exit status, with *error set when it is not 0.
  int run(std::string* error);

 private:
  int list(std::string* error);
  int render(std::string* error);
  int renderAll(std::string* error);
  int play(std::string* error);
  int tune(std::string* error);

  bool loadPlugin(std::string* error);
  bool pickModule(int* index, std::string* error);
  // The audio of the command (file or demo tune), cut to --from / --duration.
  bool loadAudio(AudioClip* clip, std::string* error);
  // Checks the rate and --from against a stream of `frames` frames and gives the range
  // that --from and --duration select.
  bool selectRange(int sampleRate, int64_t frames, const std::string& name, int64_t* first,
                   int64_t* count, std::string* error) const;
  bool makeAnalyser(int sampleRate, std::string* error);
  void pinClock();
  // Pins the clock, starts module `index` at the requested size and gives its frame's
  // pixels.
  bool startModule(int index, VisPixels* pixels, std::string* error);

  Options options_;
  std::unique_ptr<PluginHost> host_;
  SpectrumAnalyser* analyser_ = nullptr;
  bool clockPinned_ = false;
  int input_ = 1, inputs_ = 1;  // with several inputs: the one being rendered, of how many
};

// The plug-in beside this program's binary: <folder of /proc/self/exe>/vis_orlim.so.
std::string defaultPluginPath();
