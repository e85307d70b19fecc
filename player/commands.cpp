// `list`, `tune` and `render`. A render reads like a test program of SDL's: set up
// (sink, plug-in, audio, module), then per frame "analyse, render, write", then finish;
// the session's and the sink's destructors are the clean-up path on every way out.
#include "commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "audio/demo_tune.h"
#include "base/files.h"    // sameFile, folderOf, ScratchFile, systemReasonIn
#include "base/signals.h"  // interruptRequested, interruptExitStatus
#include "base/text.h"     // formatClock, oneLine
#include "inputs.h"
#include "output/frame_sink.h"
#include "output/output_file.h"
#include "progress.h"
#include "session.h"

SessionSettings sessionSettingsFor(const Options& options) {
  SessionSettings settings;
  settings.plugin = options.plugin;
  settings.module = options.module;
  // The audio, and the files after it in a list (play goes through them).
  if (!options.audio.empty()) {
    settings.tracks = options.inputs;
    if (settings.tracks.empty() || settings.tracks[0] != options.audio)
      settings.tracks = {options.audio};
  }
  settings.from = options.from;
  settings.duration = options.duration;
  settings.seeded = options.seeded;
  settings.seed = options.seed;
  // Scaled, the plug-in gets a frame window of the drawing's size; unscaled, the size
  // asked for (none: its own).
  const FrameSizes sizes = frameSizesFor(options.width, options.height, options.scale);
  settings.width = sizes.factor > 1 ? sizes.drawWidth : options.width;
  settings.height = sizes.factor > 1 ? sizes.drawHeight : options.height;
  settings.spectrum = options.spectrum;
  settings.strict = options.strict;
  return settings;
}

int listCommand(const Options& options, FILE* out, std::string* error) {
  Session session(sessionSettingsFor(options));
  if (!session.loadPlugin(error)) return 1;
  PluginHost& host = session.host();
  fprintf(out, "%s\n", host.description());
  for (int i = 0; i < host.moduleCount(); ++i) fprintf(out, "  %d  %s\n", i, host.moduleName(i));
  return 0;
}

namespace {
// A run stopped by a signal: nothing written, the shell's status for that signal.
int interrupted(const std::string& out, std::string* error) {
  *error = "interrupted; " + out + " was not written";
  return interruptExitStatus();
}
}  // namespace

int tuneCommand(const Options& options, FILE* out, std::string* error) {
  AudioClip clip;
  synthesiseDemoTune(options.duration > 0 ? options.duration : DEMO_TUNE_SECONDS, &clip);
  PendingFile file;
  if (!file.reserve(options.output, options.overwrite ? IfExists::Replace : IfExists::Refuse,
                    error)) {
    return 1;
  }
  if (!writeWav(clip, file.temporaryPath(), error)) {
    std::string reason = systemReasonIn(*error);  // the temporary name stays unsaid
    *error = options.output + ": " + (reason.empty() ? "cannot write WAV" : reason);
    return 1;
  }
  if (interruptRequested()) return interrupted(options.output, error);
  if (!file.commit(error)) return 1;
  fprintf(out, "%s\n", options.output.c_str());
  return 0;
}

namespace {
// The frame a .png output keeps: --at, or 5 s in (the middle of a shorter range).
bool pickSnapshotFrame(const Options& options, const Session& session, int64_t* frame,
                       std::string* error) {
  const int rate = session.sampleRate();
  const double seconds = session.rangeLength() > 0 ? (double)session.rangeLength() / rate : 1e18;
  double at = options.at >= 0 ? options.at : options.from + std::min(5.0, seconds / 2);
  double offset = at - options.from;
  if (offset < 0 || offset >= seconds) {
    char text[160];
    snprintf(text, sizeof text, "--at %.3f s: outside the rendered audio (%.3f to %.3f s)", at,
             options.from, options.from + seconds);
    *error = text;
    return false;
  }
  *frame = session.clock().frameAtSeconds(offset);
  if (session.rangeLength() > 0) {
    *frame = std::min(*frame, session.clock().framesFor(session.rangeLength()) - 1);
  }
  return true;
}

// The sink's set-up: the frame's size and rate, and the sound under a video (the same
// range of the same file; the demo tune, which has no file, written out first).
bool sinkSetup(const Options& options, Session& session, FrameSink& sink, ScratchFile* wav,
               SinkSetup* setup, std::string* error) {
  FrameView view;
  session.pixels(&view);
  const FrameSizes sizes = frameSizesFor(options.width, options.height, options.scale);
  setup->width = sizes.factor > 1 ? sizes.width : view.width;
  setup->height = sizes.factor > 1 ? sizes.height : view.height;
  setup->scale = sizes.factor;
  setup->scaleFilter = options.scaleFilter;
  setup->frameRate = session.clock().frameRateText();
  if (options.fpsNumerator > 0) {
    setup->frameRate = std::to_string(options.fpsNumerator) +
                       (options.fpsDenominator > 1 ? "/" + std::to_string(options.fpsDenominator) : "");
  }
  if (!sink.wantsAudio()) return true;
  if (const AudioClip* tune = session.clip()) {
    // In the scratch folder, never the output's; a failure says which output needed it.
    if (!wav->make("audio", ".wav", error)) return false;
    if (!writeWav(*tune, wav->path(), error)) {
      std::string reason = systemReasonIn(*error);
      *error = options.output + ": the tune's audio for ffmpeg, in " +
               folderOf(folderOf(wav->path())) + ": " + (reason.empty() ? *error : reason);
      return false;
    }
    setup->audioPath = wav->path();
  } else {
    setup->audioPath = session.audioFile();
  }
  setup->audioStart = (double)session.rangeStart() / session.sampleRate();
  if (session.rangeLength() > 0) {
    setup->audioDuration = (double)session.rangeLength() / session.sampleRate();
  }
  return true;
}

// The audio's warnings, each on a line of its own below the progress line.
void reportWarnings(Session& session, ProgressLine* progress) {
  std::vector<std::string> warnings = session.takeWarnings();
  if (warnings.empty()) return;
  if (progress) progress->finish();
  for (const std::string& w : warnings)
    fprintf(stderr, "orlimvis: warning: %s\n", oneLine(w).c_str());
}

// How many times the sink gets module frame `frame`: once, or with --fps for a video as
// many video frames as show it (0: dropped).
int64_t timesShown(const Options& options, const Session& session, const FrameSink& sink,
                   int64_t frame) {
  if (options.fpsNumerator <= 0 || !isVideoSink(&sink)) return 1;
  const FrameClock& clock = session.clock();
  return clock.videoFramesBefore(frame + 1, options.fpsNumerator, options.fpsDenominator) -
         clock.videoFramesBefore(frame, options.fpsNumerator, options.fpsDenominator);
}

// The session's frames, one per interval of the module's clock, the last, partial one
// included. *done is the count drawn. The progress line is left open on success, for
// the summary.
int renderFrames(const Options& options, Session& session, FrameSink& sink, ProgressLine& progress,
                 int64_t* done, std::string* error) {
  const std::string& out = options.output;
  for (int64_t frame = 0; frame < session.frames(); ++frame) {
    // Damage is told where it is met (every second of frames is often enough to look).
    if (frame % 40 == 0) reportWarnings(session, &progress);
    if (interruptRequested()) {
      progress.finish();
      return interrupted(out, error);
    }
    if (!session.nextFrame()) break;
    const int64_t times = timesShown(options, session, sink, frame);
    if (times > 0 && sink.wantsPixels(frame)) {
      FrameView view;
      if (!session.pixels(&view)) {
        *error = "the plug-in's frame window went away";
        return 1;
      }
      for (int64_t k = 0; k < times; ++k) {
        if (!sink.write(view, frame, error)) {
          progress.finish();
          return interruptRequested() ? interrupted(out, error) : 1;
        }
      }
    }
    progress.update(frame + 1);
    *done = frame + 1;
  }
  std::string why = session.audio()->error();
  if (!why.empty()) {
    progress.finish();
    *error = why;  // a file damaged part way through, with --strict
    return 1;
  }
  reportWarnings(session, &progress);
  return 0;
}

// The first steps of a render: the sink, chosen and checked from the output's name
// before any audio is decoded, then the session opened. *status is the exit status of
// a failure.
std::unique_ptr<FrameSink> prepareRender(const Options& options, Session& session,
                                         int* status, std::string* error) {
  *status = EXIT_FAILED;
  // Writing over the audio being read would destroy it, whatever name reaches it.
  if (sameFile(options.audio, options.output)) {
    *error = options.output + ": is the input file " + options.audio + "; choose another output";
    return nullptr;
  }
  SinkChoice choice;
  choice.ifExists = options.overwrite ? IfExists::Replace : IfExists::Refuse;
  choice.encoding = options.encoding;
  std::unique_ptr<FrameSink> sink = makeFrameSink(options.output, choice, error);
  if (!sink) return nullptr;
  if (options.at >= 0 && !isSnapshotSink(sink.get())) {
    *error = "--at is only for a .png output";
    return nullptr;
  }
  if (options.fpsNumerator > 0 && !isVideoSink(sink.get())) {
    *error = "--fps is only for a video output";
    *status = EXIT_USAGE;
    return nullptr;
  }
  if (!session.open(error)) {
    if (session.usageError()) *status = EXIT_USAGE;
    return nullptr;
  }
  reportWarnings(session, nullptr);
  return sink;
}

// -v: one line on what is rendered, before the frames.
void describeRender(const Options& options, Session& session, const SinkSetup& setup) {
  FrameView view;
  session.pixels(&view);
  const int rate = session.sampleRate();
  std::string text = "orlimvis: " + (options.audio.empty() ? std::string("the demo tune") : options.audio) +
                     " (" + std::to_string(rate) + " Hz, " +
                     std::to_string(session.streamChannels()) + " channels";
  if (session.rangeLength() > 0) text += ", " + formatClock((double)session.rangeLength() / rate);
  text += ") with " + std::string(session.host().moduleName(session.host().runningIndex())) +
          ", drawn at " + std::to_string(view.width) + "x" + std::to_string(view.height);
  if (setup.scale > 1) {
    text += " and scaled by " + std::to_string(setup.scale) +
            (setup.scaleFilter == ScaleFilter::Smooth ? " (smooth)" : " (nearest)") + " to " +
            std::to_string(setup.width) + "x" + std::to_string(setup.height);
  }
  text += ", " + setup.frameRate + " frames a second, to " + options.output;
  fprintf(stderr, "%s\n", oneLine(text).c_str());
}

// The closing line: what was written, its size and the length of audio it shows.
void reportWritten(const Session& session, const FrameSink& sink, int64_t frames,
                   ProgressLine& progress) {
  if (sink.written().empty()) {
    progress.finish();
    return;
  }
  double seconds = frames * session.clock().secondsPerFrame();
  if (session.rangeLength() > 0) {
    seconds = std::min(seconds, (double)session.rangeLength() / session.sampleRate());
  }
  progress.summary(sink.written(), sink.bytes(), sink.hasDuration() ? seconds : -1);
}

// One input to one output; `input` of `inputs` names it on the progress line.
int renderOne(const Options& options, int input, int inputs, std::string* error) {
  SessionSettings settings = sessionSettingsFor(options);
  settings.spoolStreams = true;
  settings.refuseSpooled = options.encoding.audioCopy;
  Session session(settings);
  int failed;
  std::unique_ptr<FrameSink> sink = prepareRender(options, session, &failed, error);
  if (!sink) return failed;
  if (isSnapshotSink(sink.get())) {
    int64_t snapshot = -1;
    if (!pickSnapshotFrame(options, session, &snapshot, error)) return 1;
    setSnapshotFrame(sink.get(), snapshot);
    session.stopAfter(snapshot + 1);
  }
  const int64_t frames = session.frames();
  ScratchFile wav;
  SinkSetup setup;
  if (!sinkSetup(options, session, *sink, &wav, &setup, error) || !sink->open(setup, error)) {
    return 1;
  }
  if (options.verbosity >= 1 && !sink->note().empty())
    fprintf(stderr, "orlimvis: note: %s\n", oneLine(sink->note()).c_str());
  if (options.verbosity >= 2) describeRender(options, session, setup);
  ProgressLine progress(frames, session.clock().secondsPerFrame(),
                        progressModeFor(options.verbosity, isatty(2) != 0),
                        options.verbosity >= 2 ? 1 : 5);
  progress.setInput(input, inputs, inputName(options.audio));
  int64_t done = 0;
  int status = renderFrames(options, session, *sink, progress, &done, error);
  if (status != 0) return status;
  session.host().stop();  // the module quits before the output is declared good
  if (!sink->finish(error)) {
    progress.finish();
    return interruptRequested() ? interrupted(options.output, error) : 1;
  }
  reportWritten(session, *sink, done, progress);
  return 0;
}

bool isFolderOutput(const std::string& output) {
  struct stat info;
  return !output.empty() && output != "-" &&
         (output.back() == '/' || (stat(output.c_str(), &info) == 0 && S_ISDIR(info.st_mode)));
}

// "FOLDER/<name>.mp4" (or --format's extension) for input "some/where/<name>.ext"; the
// demo tune, which has no file, makes "demo-tune.mp4", standard input "stdin.mp4".
std::string outputFor(const std::string& folder, const std::string& input,
                      const std::string& format) {
  std::string name = input == "-" ? "stdin" : input.substr(input.find_last_of('/') + 1);
  name = name.substr(0, std::min(name.find_last_of('.'), name.size()));
  if (input.empty()) name = "demo-tune";
  return folder + (folder.back() == '/' ? "" : "/") + (name.empty() ? "audio" : name) + "." +
         (format.empty() ? "mp4" : format);
}

// An output that is one of the batch's inputs (by device and inode, whatever the names)
// would be overwritten before, or after, it is read: the whole batch is refused before
// anything is written. Sets *error to the first clash.
bool outputsClearOfInputs(const Options& given, std::string* error) {
  const size_t count = given.inputs.size();
  std::vector<struct stat> inputs(count);
  std::vector<bool> found(count);
  for (size_t i = 0; i < count; ++i) found[i] = stat(given.inputs[i].c_str(), &inputs[i]) == 0;
  for (const std::string& from : given.inputs) {
    const std::string output = outputFor(given.output, from, given.format);
    struct stat existing;
    if (stat(output.c_str(), &existing) != 0) continue;  // not there: nothing to overwrite
    for (size_t i = 0; i < count; ++i) {
      if (!found[i] || inputs[i].st_dev != existing.st_dev || inputs[i].st_ino != existing.st_ino)
        continue;
      const std::string& input = given.inputs[i];
      const std::string clash =
          input == from ? "is the input file " + from
                        : "the output of " + from + " would overwrite the input " + input;
      *error = output + ": " + clash + "; choose another output folder";
      return false;
    }
  }
  return true;
}

// Into a folder: FOLDER/<name>.mp4 for each input, one after another; a failure is
// reported and the rest go on. An interruption stops them all.
int renderAll(const Options& given, std::string* error) {
  if (!checkWritableFolder(given.output, error) || !outputsClearOfInputs(given, error)) return 1;
  std::vector<std::string> outputs;
  int failed = 0;
  // No input: the demo tune, into the folder all the same.
  const std::vector<std::string> inputs =
      given.inputs.empty() ? std::vector<std::string>{""} : given.inputs;
  const int count = (int)inputs.size();
  for (int i = 0; i < count; ++i) {
    Options options = given;
    options.audio = inputs[i];
    options.inputs = {options.audio};
    if (options.audio.empty()) options.inputs.clear();
    options.output = outputFor(given.output, options.audio, given.format);
    std::string reason;
    int status = 1;
    if (std::find(outputs.begin(), outputs.end(), options.output) != outputs.end()) {
      reason = options.audio + ": its output " + options.output + " is an earlier input's";
    } else {
      outputs.push_back(options.output);
      status = renderOne(options, i + 1, count, &reason);
    }
    if (status != 0 && (interruptRequested() || count == 1)) {
      *error = reason;
      return status;
    }
    if (status != 0) {
      fprintf(stderr, "orlimvis: %s\n", oneLine(reason).c_str());
      ++failed;
    }
  }
  if (failed == 0) return 0;
  *error = std::to_string(failed) + " of " + std::to_string(count) + " inputs failed";
  return 1;
}
}  // namespace

int renderCommand(const Options& given, std::string* error) {
  // Folders and playlists become the files they hold.
  Options options = given;
  std::vector<std::string> notes;
  if (!expandInputs(given.inputs, &options.inputs, &notes, error)) return 1;
  if (options.verbosity >= 1) {
    for (const std::string& note : notes)
      fprintf(stderr, "orlimvis: note: %s\n", oneLine(note).c_str());
  }
  if (!options.inputs.empty()) options.audio = options.inputs[0];
  // A folder gets videos, one per input, however many inputs there are.
  if (isFolderOutput(options.output)) return renderAll(options, error);
  if (options.inputs.size() > 1) {
    *error = "render: several inputs (" + options.inputs[0] + ", " + options.inputs[1] +
             (options.inputs.size() > 2 ? " and more" : "") + ") need -o FOLDER/, not " +
             options.output;
    return EXIT_USAGE;
  }
  if (!options.format.empty()) {
    *error = "--format: only for a folder output (-o videos/); " + options.output +
             " says its kind by its name";
    return EXIT_USAGE;
  }
  return renderOne(options, 1, 1, error);
}
