// `list`, `tune` and `render`. A render reads like a test program of SDL's: set up
// (sink, plug-in, audio, module), then per frame "analyse, render, write", then finish;
// the session's and the sink's destructors are the clean-up path on every way out.
#include "commands.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "audio/demo_tune.h"
#include "output/frame_sink.h"
#include "output/output_file.h"
#include "progress.h"
#include "session.h"

int listCommand(const Options& options, FILE* out, std::string* error) {
  Session session(options);
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
  if (!file.reserve(options.output, error)) return 1;
  if (!writeWav(clip, file.temporaryPath(), error)) return 1;
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
bool sinkSetup(const Options& options, Session& session, FrameSink& sink, PendingFile* wav,
               SinkSetup* setup, std::string* error) {
  FrameView view;
  session.pixels(&view);
  setup->width = view.width;
  setup->height = view.height;
  setup->frameRate = session.clock().frameRateText();
  if (!sink.wantsAudio()) return true;
  if (const AudioClip* tune = session.tune()) {
    char name[64];
    snprintf(name, sizeof name, "/orlimvis-audio-%d.wav", (int)getpid());
    const char* tmp = getenv("TMPDIR");
    if (!wav->reserve(std::string(tmp && *tmp ? tmp : "/tmp") + name, error)) return false;
    if (!writeWav(*tune, wav->temporaryPath(), error)) return false;
    setup->audioPath = wav->temporaryPath();
  } else {
    setup->audioPath = options.audio;
  }
  setup->audioStart = (double)session.rangeStart() / session.sampleRate();
  if (session.rangeLength() > 0) {
    setup->audioDuration = (double)session.rangeLength() / session.sampleRate();
  }
  return true;
}

// The frames, one per interval of the module's clock; the last, partial one included.
int renderFrames(Session& session, FrameSink& sink, int64_t frames, const std::string& out,
                 std::string* error) {
  ProgressLine progress(frames, session.clock().secondsPerFrame(), isatty(2) != 0);
  for (int64_t frame = 0; frame < frames; ++frame) {
    if (interruptRequested()) {
      progress.finish();
      return interrupted(out, error);
    }
    FrameWindow window = session.clock().window(frame, session.analysisLength());
    const float* samples = session.feed().window(window.first, session.analysisLength());
    // The audio ended before its stated length: so does the render.
    if (frame > 0 && session.feed().ended() &&
        session.clock().frameStart(frame) >= session.feed().total()) {
      break;
    }
    session.renderWindow(samples, window.begin, window.end);
    if (sink.wantsPixels(frame)) {
      FrameView view;
      if (!session.pixels(&view)) {
        *error = "the plug-in's frame window went away";
        return 1;
      }
      if (!sink.write(view, frame, error)) {
        progress.finish();
        return interruptRequested() ? interrupted(out, error) : 1;
      }
    }
    progress.update(frame + 1);
  }
  progress.finish();
  std::string why = session.audio()->error();
  if (!why.empty()) {
    *error = why;  // a file damaged part way through
    return 1;
  }
  return 0;
}
}  // namespace

int renderCommand(const Options& options, std::string* error) {
  // Writing over the audio being read would destroy it, whatever name reaches it.
  if (sameFile(options.audio, options.output)) {
    *error = options.output + ": is the input file " + options.audio + "; choose another output";
    return 1;
  }
  // What the output is, decided (and checked) before any audio is decoded.
  std::unique_ptr<FrameSink> sink = makeFrameSink(options.output, error);
  if (!sink) return 1;
  if (options.at >= 0 && !isSnapshotSink(sink.get())) {
    *error = "--at is only for a .png output";
    return 1;
  }
  Session session(options);
  int index;
  if (!session.loadPlugin(error) || !session.pickModule(&index, error) ||
      !session.openAudio(error) ||
      !session.startModule(index, options.width, options.height, error)) {
    return 1;
  }
  int64_t frames = session.rangeLength() > 0 ? session.clock().framesFor(session.rangeLength())
                                             : INT64_MAX;
  int64_t snapshot = -1;
  if (isSnapshotSink(sink.get())) {
    if (!pickSnapshotFrame(options, session, &snapshot, error)) return 1;
    setSnapshotFrame(sink.get(), snapshot);
    frames = snapshot + 1;
  }
  PendingFile wav;
  SinkSetup setup;
  if (!sinkSetup(options, session, *sink, &wav, &setup, error) || !sink->open(setup, error)) {
    return 1;
  }
  int status = renderFrames(session, *sink, frames, options.output, error);
  if (status != 0) return status;
  session.host().stop();  // the module quits before the output is declared good
  if (sink->finish(error)) return 0;
  return interruptRequested() ? interrupted(options.output, error) : 1;
}
