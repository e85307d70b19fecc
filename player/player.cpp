// The commands that need no display: list, tune and render, and the set-up every
// command shares (plug-in, module, audio range, analyser, pinned clock).
#include "player.h"

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "audio/audio_stream.h"
#include "audio/demo_tune.h"
#include "host/plugin_home.h"
#include "output/output_file.h"
#include "output/png_writer.h"
#include "output/video_writer.h"
#include "progress.h"

std::string defaultPluginPath() { return defaultPluginLocation().path; }

Player::~Player() {
  host_.reset();  // quits a running module first: its position is saved
  spectrumDestroy(analyser_);
  if (clockPinned_) visSetSystemTimeOverride(nullptr);
}

int Player::run(std::string* error) {
  switch (options_.command) {
    case Command::List: return list(error);
    case Command::Render: return render(error);
    case Command::Play: return play(error);
    case Command::Tune: return tune(error);
    case Command::Version: return puts(versionText()), 0;
    case Command::Help:
      fputs(options_.helpTopic.empty() ? usageText() : helpText(options_.helpTopic), stdout);
      return 0;
    default:
      fputs(usageText(), stdout);
      return 0;
  }
}

bool Player::loadPlugin(std::string* error) {
  host_.reset(new PluginHost());
  PluginLocation plugin = defaultPluginLocation();
  if (!options_.plugin.empty()) plugin = {options_.plugin, false};
  redirectPluginSettings(plugin);
  return host_->load(plugin.path, error);
}

bool Player::pickModule(int* index, std::string* error) {
  *index = host_->findModule(options_.module);
  if (*index < 0) {
    *error = "unknown module '" + options_.module + "' (valid: " + host_->moduleNames() +
             ", or an index 0-" + std::to_string(host_->moduleCount() - 1) + ")";
    return false;
  }
  return true;
}

bool Player::selectRange(int sampleRate, int64_t frames, const std::string& name,
                         int64_t* first, int64_t* count, std::string* error) const {
  if (sampleRate < 1000 || sampleRate > 768000) {
    *error = name + ": sample rate " + std::to_string(sampleRate) +
             " Hz is not supported (1000 to 768000)";
    return false;
  }
  double length = (double)frames / sampleRate;
  if (options_.from >= length) {
    char text[160];
    snprintf(text, sizeof text, "--from %.3f s: beyond the end of the audio (%.3f s long)",
             options_.from, length);
    *error = text;
    return false;
  }
  *first = (int64_t)llround(options_.from * sampleRate);
  *count = frames - *first;
  if (options_.duration > 0) {
    *count = std::min<int64_t>(*count, (int64_t)llround(options_.duration * sampleRate));
  }
  *count = std::max<int64_t>(*count, 1);
  return true;
}

bool Player::loadAudio(AudioClip* clip, std::string* error) {
  AudioClip whole;
  if (options_.audio.empty()) {
    synthesiseDemoTune(DEMO_TUNE_SECONDS, &whole);
  } else if (!loadAudioFile(options_.audio, &whole, error)) {
    return false;
  }
  int64_t first, count;
  if (!selectRange(whole.sampleRate, whole.frameCount(),
                   whole.source.empty() ? "audio" : whole.source, &first, &count, error)) {
    return false;
  }
  // Cut in place rather than copy: a long file is held once, not twice.
  whole.samples.resize((size_t)(first + count) * 2);
  whole.samples.erase(whole.samples.begin(), whole.samples.begin() + first * 2);
  *clip = std::move(whole);
  return true;
}

bool Player::makeAnalyser(int sampleRate, std::string* error) {
  spectrumDestroy(analyser_);
  analyser_ = spectrumCreate(sampleRate);
  if (!analyser_) {
    *error = "cannot set up the spectrum analyser (FFTW) for " + std::to_string(sampleRate) +
             " Hz";
    return false;
  }
  return true;
}

void Player::pinClock() {
  if (!options_.seeded) return;
  // The plug-in seeds its generator from the milliseconds of the system time; a fixed
  // time makes every init of a run, and every run, start from the same state.
  SYSTEMTIME time = {};
  time.wYear = 2000;
  time.wMonth = 1;
  time.wDayOfWeek = 6;
  time.wDay = 1;
  time.wMilliseconds = (WORD)(options_.seed % 1000);
  visSetSystemTimeOverride(&time);
  clockPinned_ = true;
}

bool Player::startModule(int index, VisPixels* pixels, std::string* error) {
  pinClock();
  host_->setPreferredFrameSize(options_.width, options_.height);
  if (!host_->start(index, error)) return false;
  if (!host_->framePixels(pixels)) {
    *error = "the plug-in's frame window has no pixels";
    return false;
  }
  return true;
}

int Player::list(std::string* error) {
  if (!loadPlugin(error)) return 1;
  printf("%s\n", host_->description());
  for (int i = 0; i < host_->moduleCount(); ++i) {
    printf("  %d  %s\n", i, host_->moduleName(i));
  }
  return 0;
}

int Player::tune(std::string* error) {
  AudioClip clip;
  synthesiseDemoTune(options_.duration > 0 ? options_.duration : DEMO_TUNE_SECONDS, &clip);
  PendingFile file;
  if (!file.reserve(options_.output, options_.overwrite ? IfExists::Replace : IfExists::Refuse,
                    error))
    return 1;
  if (!writeWavRange(clip, 0, clip.frameCount(), file.temporaryPath(), error)) {
    std::string reason = systemReasonIn(*error);  // the temporary name stays unsaid
    *error = options_.output + ": " + (reason.empty() ? "cannot write WAV" : reason);
    return 1;
  }
  if (!file.commit(error)) return 1;
  printf("%s\n", options_.output.c_str());
  return 0;
}

namespace {
enum class Sink { Discard, Snapshot, Folder, Video };

FrameView viewOf(const VisPixels& p) { return FrameView{p.pixels, p.width, p.height, p.stride}; }

bool isFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool endsWithPng(const std::string& path) {
  return path.size() > 4 && (path.compare(path.size() - 4, 4, ".png") == 0 ||
                             path.compare(path.size() - 4, 4, ".PNG") == 0);
}
}  // namespace

// Several inputs: FOLDER/<name>.mp4 for each, one after another; a failure is reported
// and the rest go on.
int Player::renderAll(std::string* error) {
  const Options given = options_;
  std::string folder = given.output;
  if (!checkWritableFolder(folder, error)) return 1;
  if (folder.back() != '/') folder += '/';
  std::vector<std::string> outputs;
  int failed = 0, status = 0;
  for (size_t i = 0; i < given.inputs.size() && status != 130; ++i) {
    const std::string& input = given.inputs[i];
    std::string name = input.substr(input.find_last_of('/') + 1);
    name = name.substr(0, std::min(name.find_last_of('.'), name.size()));
    options_.audio = input;
    options_.inputs = {input};
    options_.output = folder + (name.empty() ? "audio" : name) + ".mp4";
    input_ = (int)i + 1;
    inputs_ = (int)given.inputs.size();
    std::string reason;
    if (std::find(outputs.begin(), outputs.end(), options_.output) != outputs.end()) {
      reason = input + ": its output " + options_.output + " is an earlier input's";
      status = 1;
    } else {
      outputs.push_back(options_.output);
      status = render(&reason);
    }
    if (status != 0 && status != 130) {
      fprintf(stderr, "orlimvis: %s\n", reason.c_str());
      ++failed;
    } else if (status == 130) {
      *error = reason;
    }
  }
  options_ = given;
  if (status == 130) return 130;
  if (failed == 0) return 0;
  *error = std::to_string(failed) + " of " + std::to_string(given.inputs.size()) +
           " inputs failed";
  return 1;
}

int Player::render(std::string* error) {
  if (options_.inputs.size() > 1) return renderAll(error);
  // What the output is, decided (and checked) before any audio is decoded.
  const std::string& out = options_.output;
  const IfExists ifExists = options_.overwrite ? IfExists::Replace : IfExists::Refuse;
  PngSequence frames(out);
  Sink sink;
  VideoFormat format = VideoFormat::Mp4;
  std::string ffmpeg;
  if (out == "/dev/null") {
    sink = Sink::Discard;
  } else if (isFolder(out)) {
    sink = Sink::Folder;
    if (!frames.open(ifExists, error)) return 1;
  } else if (endsWithPng(out)) {
    sink = Sink::Snapshot;
  } else if (videoFormatFor(out, &format)) {
    sink = Sink::Video;
    if (out != "-" && !checkWritableFolder(folderOf(out), error)) return 1;
    struct stat existing;
    if (out != "-" && ifExists == IfExists::Refuse && stat(out.c_str(), &existing) == 0) {
      *error = existsError(out);
      return 1;
    }
    VideoEncoding encoding;
    if (!options_.encoding.audioCopy &&
        !resolveEncoding(format, options_.encoding, "", &encoding, error)) {
      return 1;
    }
    ffmpeg = findOnPath("ffmpeg");
    if (ffmpeg.empty()) {
      *error = out + ": video output needs the ffmpeg program, which is not on the PATH";
      return 1;
    }
  } else {
    size_t slash = out.find_last_of('/');
    if (out.back() == '/' || (out.find('.', slash == std::string::npos ? 0 : slash) ==
                              std::string::npos)) {
      *error = out + ": output folder does not exist";
    } else {
      *error = out + ": unknown output type (use .mp4, .mkv, .webm, .gif, .png or a folder)";
    }
    return 1;
  }
  if (options_.at >= 0 && sink != Sink::Snapshot) {
    *error = "--at is only for a .png output";
    return 1;
  }
  PendingFile snapshot;
  if (sink == Sink::Snapshot && !snapshot.reserve(out, ifExists, error)) return 1;

  if (!loadPlugin(error)) return 1;
  int index;
  if (!pickModule(&index, error)) return 1;
  // A file is read as the frames need it; the demo tune is made whole in memory.
  AudioClip tune;
  AudioStream stream;
  std::unique_ptr<AudioSource> tuneSource;
  AudioSource* source;
  int sampleRate, streamChannels;
  int64_t frameCount;
  if (options_.audio.empty()) {
    if (!loadAudio(&tune, error)) return 1;
    tuneSource.reset(new ClipSource(tune));
    source = tuneSource.get();
    sampleRate = tune.sampleRate;
    streamChannels = tune.streamChannels;
    frameCount = tune.frameCount();
  } else {
    int64_t first;
    if (!stream.open(options_.audio, error) ||
        !selectRange(stream.sampleRate(), stream.frames(), options_.audio, &first, &frameCount,
                     error) ||
        !stream.select(first, frameCount, error)) {
      return 1;
    }
    source = &stream;
    sampleRate = stream.sampleRate();
    streamChannels = stream.streamChannels();
  }
  const double seconds = (double)frameCount / sampleRate;
  if (!makeAnalyser(sampleRate, error)) return 1;
  AudioFeed feed(source);

  // One frame per 25 ms of audio; the last, partial tick still gets its frame.
  int64_t ticks = (frameCount * 40 + sampleRate - 1) / sampleRate;
  int64_t snapshotTick = -1;
  if (sink == Sink::Snapshot) {
    double at = options_.at >= 0 ? options_.at : options_.from + std::min(5.0, seconds / 2);
    double offset = at - options_.from;
    if (offset < 0 || offset >= seconds) {
      char text[160];
      snprintf(text, sizeof text, "--at %.3f s: outside the rendered audio (%.3f to %.3f s)", at,
               options_.from, options_.from + seconds);
      *error = text;
      return 1;
    }
    snapshotTick = std::min<int64_t>((int64_t)floor(offset * 40), ticks - 1);
    ticks = snapshotTick + 1;
  }

  VisPixels pixels;
  if (!startModule(index, &pixels, error)) return 1;

  VideoWriter video;
  PendingFile audioFile;
  if (sink == Sink::Video) {
    // Under the frames, the same range of the same file; the demo tune, which has no
    // file, is written out for ffmpeg first.
    VideoSettings settings;
    settings.width = pixels.width;
    settings.height = pixels.height;
    settings.encoding = options_.encoding;
    settings.ifExists = ifExists;
    if (!options_.audio.empty()) {
      settings.audioPath = options_.audio;
      settings.audioStart = options_.from;
      settings.audioDuration = seconds;
    } else {
      std::string scratch = makeScratchFile("audio", ".wav", error);
      if (scratch.empty() || !audioFile.reserve(scratch, IfExists::Replace, error)) return 1;
      unlink(scratch.c_str());
      if (!writeWavRange(tune, 0, tune.frameCount(), audioFile.temporaryPath(), error)) {
        std::string reason = systemReasonIn(*error);
        *error = out + ": the tune's audio for ffmpeg, in " + folderOf(scratch) + ": " +
                 (reason.empty() ? *error : reason);
        return 1;
      }
      settings.audioPath = audioFile.temporaryPath();
    }
    if (!video.open(ffmpeg, out, format, settings, error)) return 1;
  }

  ProgressLine progress(ticks, 0.025, isatty(2) != 0);
  progress.setInput(input_, inputs_, options_.audio);
  unsigned char spectrum[2][SPECTRUM_BANDS];
  for (int64_t tick = 0; tick < ticks; ++tick) {
    if (interruptRequested()) {
      progress.finish();
      *error = "interrupted; " + out + " was not written";
      return 130;
    }
    int64_t first;
    int begin, end;
    spectrumTickWindow(analyser_, tick, sampleRate, &first, &begin, &end);
    const float* window = feed.window(first, spectrumWindowLength(analyser_));
    // A header that promised more than the file holds: the render ends with the audio.
    if (feed.ended() && tickStart(tick, sampleRate) >= feed.total() && tick > 0) break;
    spectrumExecute(analyser_, window, begin, end, spectrum);
    host_->renderFrame(spectrum, streamChannels, sampleRate);
    if (sink == Sink::Video || sink == Sink::Folder) {
      if (!host_->framePixels(&pixels)) {
        *error = "the plug-in's frame window went away";
        return 1;
      }
      bool ok = sink == Sink::Video ? video.writeFrame(viewOf(pixels), error)
                                    : frames.write(viewOf(pixels), error);
      if (!ok) {
        progress.finish();
        return 1;
      }
    }
    progress.update(tick + 1);
  }
  progress.finish();
  if (!stream.error().empty()) {
    *error = stream.error();  // a file damaged part way through
    return 1;
  }

  if (sink == Sink::Snapshot) {
    if (!host_->framePixels(&pixels)) {
      *error = "the plug-in's frame window has no pixels";
      return 1;
    }
    if (!writePng(snapshot.temporaryPath(), viewOf(pixels), error, out)) return 1;
  }
  host_->stop();  // the module quits before the output is declared good
  if (sink == Sink::Video && !video.finish(error)) return 1;
  if (sink == Sink::Snapshot && !snapshot.commit(error)) return 1;
  frames.commit();
  struct stat written = {};
  if (sink == Sink::Snapshot) stat(out.c_str(), &written);
  long long bytes = out == "-" ? -1 : sink == Sink::Video ? video.outputSize()
                    : sink == Sink::Folder ? frames.bytes() : (long long)written.st_size;
  std::string what = out == "-" ? "standard output"
                     : sink == Sink::Folder ? std::to_string(frames.count()) + " frames to " + out
                                            : out;
  // A snapshot is one moment: its size only.
  if (sink != Sink::Discard) progress.summary(what, bytes, sink == Sink::Snapshot ? -1 : seconds);
  return 0;
}
