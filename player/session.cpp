// The session's set-up steps and its one clean-up path. See session.h.
#include "session.h"

#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>

#include "audio/decoder.h"
#include "audio/demo_tune.h"
#include "base/files.h"    // makeScratchFile, removeScratchFile
#include "base/signals.h"  // interruptRequested
#include "host/plugin_home.h"

std::string defaultPluginPath() { return defaultPluginLocation().path; }

Session::~Session() {
  host_.reset();  // quits a running module first: its position is saved
  feed_.reset();
  spectrumDestroy(analyser_);
  if (clockPinned_) visSetSystemTimeOverride(nullptr);
  file_.reset();
  if (!spool_.empty()) removeScratchFile(spool_);
}

std::vector<std::string> Session::takeWarnings() {
  std::vector<std::string> out;
  out.swap(warnings_);
  if (source_) {
    for (std::string& w : source_->takeWarnings()) out.push_back(std::move(w));
  }
  return out;
}

// The input through FFmpeg; a stream, when asked, decoded once into a scratch file
// that is then read instead. The title and channel count stay the input's.
bool Session::openFile(const std::string& path, std::string* error) {
  std::unique_ptr<AudioDecoder> decoder(new AudioDecoder());
  decoder->setStrict(options_.strict);
  if (!decoder->open(path, error)) return false;
  audioFile_ = path;
  // A pipe can be read once; /dev/stdin, /dev/fd/N and /proc/self/fd/N, even of a
  // file, name this process's own descriptors, which ffmpeg's would not be.
  const bool ownName = path == "-" || path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
  if (spoolStreams_ && (decoder->isStream() || ownName)) {
    std::string scratch = makeScratchFile("input", ".wav", error);
    if (scratch.empty()) return false;
    spool_ = scratch;
    const std::string name = path == "-" ? "standard input" : path;
    if (!spoolToWav(decoder.get(), scratch, name, interruptRequested, error)) return false;
    for (std::string& w : decoder->takeWarnings()) warnings_.push_back(std::move(w));
    std::unique_ptr<AudioDecoder> again(new AudioDecoder());
    if (!again->open(scratch, error)) return false;
    title_ = decoder->title();
    channels_ = decoder->streamChannels();
    audioFile_ = scratch;
    file_ = std::move(again);
  } else {
    title_ = decoder->title();
    channels_ = decoder->streamChannels();
    file_ = std::move(decoder);
  }
  source_ = file_.get();
  return true;
}

bool Session::openTrack(const std::string& path, std::string* error) {
  std::unique_ptr<AudioSource> previous = std::move(file_);
  feed_.reset();
  options_.audio = path;
  options_.from = 0;
  source_ = nullptr;
  if (!openAudio(error)) return false;
  const int index = host_->runningIndex();
  if (index >= 0 && !FrameClock::forModule(*host_->module(index), host_->moduleName(index),
                                           rate_, &clock_, error)) {
    return false;
  }
  return true;
}

bool Session::loadPlugin(std::string* error) {
  host_.reset(new PluginHost());
  // --plugin names a copy the user keeps, never an installed one; either way the
  // settings go where that plug-in may keep them.
  PluginLocation plugin = defaultPluginLocation();
  if (!options_.plugin.empty()) plugin = {options_.plugin, false};
  std::string folder = redirectPluginSettings(plugin);
  settingsFile_ = (folder.empty() ? folderOf(plugin.path) : folder) + "/player.ini";
  return host_->load(plugin.path, error);
}

namespace {
const char kSection[] = "orlimvis";
}

bool Session::pickModule(int* index, std::string* error) const {
  if (options_.module.empty()) {
    char name[256] = "";
    GetPrivateProfileStringA(kSection, "module", "", name, sizeof name, settingsFile_.c_str());
    *index = std::max(0, name[0] ? host_->findModule(name) : 0);
    return host_->moduleCount() > 0 || (*error = "the plug-in has no modules", false);
  }
  *index = host_->findModule(options_.module);
  if (*index < 0) {
    *error = "unknown module '" + options_.module + "' (valid: " + host_->moduleNames() +
             ", or an index 0-" + std::to_string(host_->moduleCount() - 1) + ")";
    return false;
  }
  return true;
}

bool Session::openAudio(std::string* error) {
  if (options_.audio.empty()) {
    synthesiseDemoTune(DEMO_TUNE_SECONDS, &tune_);
    tuneSource_.reset(new ClipSource(tune_, "demo tune"));
    source_ = tuneSource_.get();
    channels_ = source_->streamChannels();
    title_ = source_->title();
  } else if (!openFile(options_.audio, error)) {
    return false;
  }
  rate_ = source_->sampleRate();
  const std::string name = options_.audio.empty() ? "demo tune"
                           : options_.audio == "-" ? "standard input" : options_.audio;
  if (rate_ < 1000 || rate_ > 768000) {
    *error = name + ": sample rate " + std::to_string(rate_) + " Hz is not supported (1000 to 768000)";
    return false;
  }
  // Positions stay below 2^50 samples (46 years at 768 kHz), so that the frame clock's
  // products (a position times 1000) cannot overflow: a longer stated length (a damaged
  // header can state anything) or --duration is as good as "to the end".
  const int64_t kMaxSamples = (int64_t)1 << 50;
  const int64_t length = std::min(source_->frames(), kMaxSamples);
  if (!(options_.from * rate_ < (double)kMaxSamples) ||
      (length > 0 && options_.from >= (double)length / rate_)) {
    char text[160];
    snprintf(text, sizeof text, "--from %.3f s: beyond the end of the audio (%.3f s long)",
             options_.from, (double)length / rate_);
    *error = text;
    return false;
  }
  rangeStart_ = (int64_t)llround(options_.from * rate_);
  rangeLength_ = length > 0 ? std::max<int64_t>(1, length - rangeStart_) : -1;
  if (options_.duration > 0) {
    const double samples = options_.duration * rate_;
    int64_t wanted = samples < (double)kMaxSamples
                         ? std::max<int64_t>(1, (int64_t)llround(samples)) : kMaxSamples;
    rangeLength_ = rangeLength_ < 0 ? wanted : std::min(rangeLength_, wanted);
  }
  if (!makeAnalyser(error)) return false;
  if (!source_->seek(rangeStart_, error)) return false;
  origin_ = rangeStart_;
  feed_.reset(new AudioFeed(source_, rangeLength_));
  return true;
}

bool Session::useLiveAudio(int sampleRate, int channels, const std::string& name,
                           std::string* error) {
  rate_ = sampleRate;
  channels_ = channels;
  title_ = name;
  return makeAnalyser(error);
}

bool Session::makeAnalyser(std::string* error) {
  spectrumDestroy(analyser_);
  // The layout and gain of --bands and --sensitivity. The analyser keeps its automatic
  // gain from frame to frame: one analyser per session, fed its frames in order, and a
  // seek or a change of module leaves it as it is (the gain settles again by itself).
  analyser_ = spectrumCreateWith(rate_, options_.spectrum);
  if (!analyser_) {
    *error = "cannot set up the spectrum analyser (FFTW) for " + std::to_string(rate_) + " Hz";
    return false;
  }
  return true;
}

void Session::pinClock() {
  if (!options_.seeded || clockPinned_) return;
  // The plug-in seeds its generator from the milliseconds of the system time; a fixed
  // time makes every init of a run, and every run, start from the same state.
  pinPluginClock(options_.seed);
  clockPinned_ = true;
}

bool Session::startModule(int index, int width, int height, std::string* error) {
  if (host_->running()) host_->stop();
  if (!FrameClock::forModule(*host_->module(index), host_->moduleName(index), rate_, &clock_,
                             error)) {
    return false;
  }
  pinClock();
  host_->setPreferredFrameSize(width, height);
  if (!host_->start(index, error)) return false;
  FrameView view;
  if (!pixels(&view)) {
    *error = "the plug-in's frame window has no pixels";
    return false;
  }
  return true;
}

void Session::rememberModule() {
  const int index = host_ ? host_->runningIndex() : -1;
  if (index < 0 || settingsFile_.empty()) return;
  WritePrivateProfileStringA(kSection, "module", host_->moduleName(index), settingsFile_.c_str());
}

bool Session::seek(int64_t sample, std::string* error) {
  sample = std::max<int64_t>(0, sample);
  if (!source_->seek(sample, error)) return false;
  origin_ = sample;
  feed_.reset(new AudioFeed(source_));
  return true;
}

void Session::renderFrame(int64_t frame) {
  FrameWindow w = clock_.window(frame, spectrumWindowLength(analyser_));
  renderWindow(feed_->window(w.first, spectrumWindowLength(analyser_)), w.begin, w.end);
}

void Session::renderWindow(const float* window, int begin, int end) {
  unsigned char spectrum[2][SPECTRUM_BANDS];
  spectrumExecute(analyser_, window, begin, end, spectrum);
  host_->renderFrame(spectrum, channels_, rate_);
}

bool Session::pixels(FrameView* view) const {
  VisPixels p;
  if (!host_ || !host_->framePixels(&p)) return false;
  *view = FrameView{p.pixels, p.width, p.height, p.stride};
  return true;
}
