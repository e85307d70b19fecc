// The session's set-up chain, its frame pipeline and its one clean-up path. See session.h.
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
#include "inputs.h"  // inputName

std::string defaultPluginPath() { return defaultPluginLocation().path; }

Session::~Session() {
  host_.reset();  // quits a running module first: its position is saved
  feed_.reset();
  analyser_.reset();
  if (clockPinned_) visSetSystemTimeOverride(nullptr);
  file_.reset();
  if (!spool_.empty()) removeScratchFile(spool_);
}

bool Session::open(std::string* error, const LiveOpener& live) {
  int index;
  if (!loadPlugin(error)) return false;
  if (settings_.events) host_->setEvents(settings_.events);
  if (!pickModule(&index, error)) {
    usageError_ = true;  // a name the command line got wrong
    return false;
  }
  if (live) {
    LiveAudio input;
    if (!live(&input, error)) return false;
    rate_ = input.sampleRate;
    channels_ = input.channels;
    title_ = input.name;
    if (!makeAnalyser(error)) return false;
  } else if (settings_.tracks.empty()) {
    if (!openAudio("", settings_.from, error)) return false;
  } else if (!openAudio(settings_.tracks[0], settings_.from, error)) {
    // Of a list, the first file that opens starts it (from its start); each that does
    // not is passed over, and the last one's reason is the error when none opens.
    bool opened = false;
    while (!opened && track_ + 1 < trackCount()) {
      skipped_.push_back(*error);
      opened = openTrack(track_ + 1, error);
    }
    if (!opened) return false;
  }
  return startModule(index, settings_.width, settings_.height, error);
}

std::vector<std::string> Session::takeSkipped() {
  std::vector<std::string> out;
  out.swap(skipped_);
  return out;
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
  decoder->setStrict(settings_.strict);
  if (!decoder->open(path, error)) return false;
  audioFile_ = path;
  // A pipe can be read once; /dev/stdin, /dev/fd/N and /proc/self/fd/N, even of a
  // file, name this process's own descriptors, which ffmpeg's would not be.
  const bool ownName = path == "-" || path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
  if (settings_.spoolStreams && (decoder->isStream() || ownName)) {
    std::string scratch = makeScratchFile("input", ".wav", error);
    if (scratch.empty()) return false;
    spool_ = scratch;
    const std::string name = path == "-" ? "standard input" : path;
    if (!spoolToWav(decoder.get(), scratch, name, interruptRequested, error)) return false;
    for (std::string& w : decoder->takeWarnings()) warnings_.push_back(std::move(w));
    // What was kept of a stream is its decoded samples: there is no stream left to copy.
    if (settings_.refuseSpooled) {
      *error = "--audio copy: " + inputName(path) +
               " is a stream, read once and decoded; its sound can only be encoded";
      return false;
    }
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

bool Session::openTrack(int index, std::string* error) {
  std::unique_ptr<AudioSource> previous = std::move(file_);
  feed_.reset();
  track_ = index;
  source_ = nullptr;
  if (!openAudio(settings_.tracks[index], 0, error)) return false;
  const int running = host_->runningIndex();
  if (running >= 0 && !FrameClock::forModule(*host_->module(running), host_->moduleName(running),
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
  if (!settings_.plugin.empty()) plugin = {settings_.plugin, false};
  std::string folder = redirectPluginSettings(plugin);
  settingsFile_ = (folder.empty() ? folderOf(plugin.path) : folder) + "/player.ini";
  return host_->load(plugin.path, error);
}

namespace {
const char kSection[] = "orlimvis";
}

bool Session::pickModule(int* index, std::string* error) {
  if (settings_.module.empty()) {
    char name[256] = "";
    GetPrivateProfileStringA(kSection, "module", "", name, sizeof name, settingsFile_.c_str());
    *index = std::max(0, name[0] ? host_->findModule(name) : 0);
    return host_->moduleCount() > 0 || (*error = "the plug-in has no modules", false);
  }
  *index = host_->findModule(settings_.module);
  if (*index < 0) {
    *error = "unknown module '" + settings_.module + "' (valid: " + host_->moduleNames() +
             ", or an index 0-" + std::to_string(host_->moduleCount() - 1) + ")";
    return false;
  }
  return true;
}

// The file at `path`; with no path the settings' clip, else the demo tune.
bool Session::openAudio(const std::string& path, double from, std::string* error) {
  std::string name = path == "-" ? "standard input" : path;
  if (path.empty()) {
    clip_ = settings_.clip;
    name = clip_ ? "the audio" : "demo tune";
    if (!clip_) {
      synthesiseDemoTune(DEMO_TUNE_SECONDS, &tune_);
      clip_ = &tune_;
    }
    clipSource_.reset(new ClipSource(*clip_, clip_ == &tune_ ? "demo tune" : "audio"));
    source_ = clipSource_.get();
    channels_ = source_->streamChannels();
    title_ = source_->title();
  } else if (!openFile(path, error)) {
    return false;
  }
  rate_ = source_->sampleRate();
  if (rate_ < 1000 || rate_ > 768000) {
    *error = name + ": sample rate " + std::to_string(rate_) + " Hz is not supported (1000 to 768000)";
    return false;
  }
  // Positions stay below 2^50 samples (46 years at 768 kHz), so that the frame clock's
  // products (a position times 1000) cannot overflow: a longer stated length (a damaged
  // header can state anything) or --duration is as good as "to the end".
  const int64_t kMaxSamples = (int64_t)1 << 50;
  const int64_t length = std::min(source_->frames(), kMaxSamples);
  if (!(from * rate_ < (double)kMaxSamples) || (length > 0 && from >= (double)length / rate_)) {
    char text[160];
    snprintf(text, sizeof text, "--from %.3f s: beyond the end of the audio (%.3f s long)", from,
             (double)length / rate_);
    *error = text;
    return false;
  }
  rangeStart_ = (int64_t)llround(from * rate_);
  rangeLength_ = length > 0 ? std::max<int64_t>(1, length - rangeStart_) : -1;
  if (settings_.duration > 0) {
    const double samples = settings_.duration * rate_;
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

bool Session::makeAnalyser(std::string* error) {
  // The layout and gain of --bands and --sensitivity. The analyser keeps its automatic
  // gain from frame to frame: one analyser per session, fed its frames in order, and a
  // seek or a change of module leaves it as it is (the gain settles again by itself).
  analyser_.reset(spectrumCreateWith(rate_, settings_.spectrum));
  if (!analyser_) {
    *error = "cannot set up the spectrum analyser (FFTW) for " + std::to_string(rate_) + " Hz";
    return false;
  }
  return true;
}

void Session::pinClock() {
  if (!settings_.seeded || clockPinned_) return;
  // The plug-in seeds its generator from the milliseconds of the system time; a fixed
  // time makes every init of a run, and every run, start from the same state.
  pinPluginClock(settings_.seed);
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

int64_t Session::frames() const {
  if (rangeLength_ <= 0) return limit_;
  return std::min(limit_, settings_.wholeFramesOnly ? clock_.frameAt(rangeLength_)
                                                    : clock_.framesFor(rangeLength_));
}

bool Session::reachedEnd(int64_t samples) const {
  return feed_->ended() && samples >= feed_->total();
}

bool Session::analyseNext() {
  const int64_t frame = frame_ + 1;
  if (frame >= frames()) return false;
  const int length = analysisLength();
  const FrameWindow w = clock_.window(frame, length);
  const float* window = feed_->window(w.first, length);
  // The audio ended before its stated length: so do the frames.
  if (frame > 0 && reachedEnd(clock_.frameStart(frame))) return false;
  audio_.window = window;
  audio_.begin = w.begin;
  audio_.end = w.end;
  spectrumExecute(analyser_.get(), window, w.begin, w.end, audio_.spectrum);
  frame_ = frame;
  return true;
}

void Session::draw() { host_->renderFrame(audio_.spectrum, channels_, rate_); }

bool Session::nextFrame() {
  if (!analyseNext()) return false;
  draw();
  return true;
}

void Session::renderFrame(int64_t frame) {
  FrameWindow w = clock_.window(frame, analysisLength());
  renderWindow(feed_->window(w.first, analysisLength()), w.begin, w.end);
}

void Session::renderWindow(const float* window, int begin, int end) {
  spectrumExecute(analyser_.get(), window, begin, end, audio_.spectrum);
  draw();
}

bool Session::pixels(FrameView* view) const {
  VisPixels p;
  if (!host_ || !host_->framePixels(&p)) return false;
  *view = FrameView{p.pixels, p.width, p.height, p.stride};
  return true;
}
