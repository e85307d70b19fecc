// `play` and `devices`: the commands that talk to SDL. `play` shows the effect live in
// an SDL2 window, with the audio heard through SDL2 or, with --capture, the spectrum of
// an input. Keys pressed in the window go to the plug-in's window as key messages, the
// plug-in forwards them to the host window, and the host acts on them there (keys.h),
// as a media player does with keys its visualisation sees.
//
// The loop is SDL's usual one: events, update (queue audio, render the frame the clock
// has reached), draw, present; between turns it sleeps in SDL_WaitEventTimeout until
// the next frame is due or an event comes, so that playing costs about what the effect
// costs, and paused or minimised it costs next to nothing. The audio streams from the
// file: only a fifth of a second is queued ahead, and seeking goes through the decoder.
//
// The sound server may go away while playing (stopped, restarted, crashed): the player
// says so once, on standard error and in the title, keeps drawing where the sound was
// on the wall clock, and connects again when the server is back, going on from there.
#include <SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "audio/capture.h"
#include "audio/sound_server.h"
#include "base/clock.h"    // monotonicSeconds
#include "base/signals.h"  // interruptRequested, interruptExitStatus
#include "commands.h"
#include "keys.h"
#include "output/live_window.h"
#include "inputs.h"
#include "play_status.h"
#include "quiet_stderr.h"
#include "session.h"

namespace {
WPARAM virtualKeyFor(SDL_Keycode key) {
  if (key >= SDLK_0 && key <= SDLK_9) return (WPARAM)('0' + (key - SDLK_0));
  if (key >= SDLK_a && key <= SDLK_z) return (WPARAM)('A' + (key - SDLK_a));
  switch (key) {
    case SDLK_SPACE: return KEY_SPACE;
    case SDLK_ESCAPE: return KEY_ESCAPE;
    case SDLK_LEFT: return KEY_LEFT;
    case SDLK_RIGHT: return KEY_RIGHT;
    case SDLK_UP: return KEY_UP;
    case SDLK_DOWN: return KEY_DOWN;
    case SDLK_PAGEDOWN: return (WPARAM)'N';  // as media players' next and previous
    case SDLK_PAGEUP: return (WPARAM)'P';
    default: return 0;
  }
}

// What the host reports back between two turns of the loop.
struct PlayEvents : HostEvents {
  std::vector<WPARAM> keys;
  bool fullscreen = false;
  bool close = false;
  void onKey(UINT message, WPARAM key, LPARAM) override {
    if (message == WM_KEYDOWN) keys.push_back(key);
  }
  void onFullscreenRequest() override { fullscreen = true; }
  void onFrameClose() override { close = true; }
};

struct SdlSession {
  bool ok;
  explicit SdlSession(Uint32 flags) : ok(init(flags)) {}
  static bool init(Uint32 flags) {
    QuietStderr quiet;  // the sound libraries' own lines; SDL's error says it all
    return SDL_Init(flags) == 0;
  }
  ~SdlSession() {
    if (ok) SDL_Quit();
  }
};

// How often a lost sound server is looked for again.
constexpr double kReconnectSeconds = 1.0;

// The input --capture names, made the one SDL's default input opens. Through a sound
// server that is done by naming its source in PULSE_SOURCE before SDL connects (and
// keeping SDL on its Pulse driver, which honours it); without one, the name must be
// one of SDL's own (checked once SDL runs). *label is what the title and the first
// line call it, the server's description and name ("Monitor of Built-in Audio
// (alsa_output....monitor)"); empty when only the device opened can tell.
bool chooseCaptureInput(const std::string& wanted, std::string* sdlName, std::string* label,
                        std::string* error) {
  InputDevice input;
  std::string why;
  switch (findCaptureInput(wanted, &input, &why)) {
    case CaptureLookup::NoServer:
      *sdlName = wanted;
      *label = wanted;
      if (wanted.empty()) setenv("PULSE_SOURCE", "@DEFAULT_MONITOR@", 0);
      return true;
    case CaptureLookup::NoSuchInput:
      *error = why;
      return false;
    case CaptureLookup::Unresolved:
      // The server's own name for the default output's monitor, as the default source.
      setenv("PULSE_SOURCE", "@DEFAULT_MONITOR@", 0);
      break;
    case CaptureLookup::Found:
      setenv("PULSE_SOURCE", input.name.c_str(), 1);
      *label = input.description + " (" + input.name + ")";
      break;
  }
  sdlName->clear();
  if (!getenv("SDL_AUDIODRIVER")) SDL_SetHint(SDL_HINT_AUDIODRIVER, "pulseaudio");
  return true;
}

class LivePlayer {
 public:
  LivePlayer(const Options& options, std::string inputLabel)
      : options_(options),
        session_(settingsFor(options_, &events_)),
        inputLabel_(std::move(inputLabel)) {}
  ~LivePlayer() { stopDrawingInPlace(); }
  int run(std::string* error);

 private:
  static SessionSettings settingsFor(const Options& options, HostEvents* events);
  bool openCapture(LiveAudio* audio, std::string* error);
  bool setUp(std::string* error);
  int waitMillis() const;
  void handleEvent(const SDL_Event& e);
  void pollEvents();
  bool actOnKeys(std::string* error);
  bool seekTo(int64_t sample, std::string* error);
  void applyVolume();
  void watchSound();
  bool changeTrack(int step, bool wrap, std::string* error);
  void reportWarnings();
  FrameSizes sizesFor(int width, int height) const;
  void fitFrameToWindow();
  void queueAudio();
  int64_t heardPosition() const;  // track sample being heard
  bool hidden() const;
  void update();
  void drawInPlace();
  void stopDrawingInPlace();
  void present();

  Options options_;
  PlayEvents events_;  // before the session: its host reports here until it is gone
  Session session_;
  LiveWindow window_;
  AudioPlayback playback_;
  AudioCapture capture_;
  std::unique_ptr<WallClock> wallClock_;
  std::string inputLabel_;
  FrameScaler scaler_;      // the drawing up to the window's size
  bool otherScale_ = false; // S: the other look than --scale's rule
  bool heard_ = false, paused_ = false, quit_ = false, redraw_ = true;
  int64_t next_ = 0;        // next sample to queue, counted from the session's origin
  int64_t playbackBase_ = 0;  // where playback_'s count began, counted the same way
  int64_t lastFrame_ = -1;
  PlayVolume volume_;
  // The sound server went away: the sound is off until SDL's driver (by this name)
  // starts again, tried every kReconnectSeconds.
  bool soundLost_ = false;
  std::string soundDriver_;
  double nextReconnect_ = 0;
  int64_t titleSecond_ = -1;  // what the window's title shows
  int titleModule_ = -1, titleState_ = -1;
  bool usageError_ = false;
};

SessionSettings LivePlayer::settingsFor(const Options& options, HostEvents* events) {
  SessionSettings settings = sessionSettingsFor(options);
  if (options.capture) settings.tracks.clear();
  settings.events = events;
  return settings;
}

// The input --capture chose, when the session comes to its audio.
bool LivePlayer::openCapture(LiveAudio* audio, std::string* error) {
  bool opened;
  {
    QuietStderr quiet;
    opened = capture_.open(options_.captureDevice, 16384, error);
  }
  if (!opened) {
    if (!options_.captureDevice.empty()) *error += "; `orlimvis devices` lists the inputs";
    return false;
  }
  if (inputLabel_.empty()) inputLabel_ = capture_.deviceName();
  if (const char* driver = SDL_GetCurrentAudioDriver()) soundDriver_ = driver;
  fprintf(stderr, "orlimvis: visualising %s\n", oneLine(inputLabel_).c_str());
  *audio = LiveAudio{capture_.sampleRate(), capture_.channels(), inputLabel_};
  return true;
}

bool LivePlayer::setUp(std::string* error) {
  // The window is the size asked for; scaled, the plug-in's frame is the drawing's.
  const FrameSizes sizes = sizesFor(options_.width, options_.height);
  LiveOpener capture;
  if (options_.capture) {
    capture = [this](LiveAudio* audio, std::string* why) { return openCapture(audio, why); };
  }
  const bool opened = session_.open(error, capture);
  // Of a list, the first file that plays starts it; each that does not is told.
  for (const std::string& skipped : session_.takeSkipped())
    fprintf(stderr, "orlimvis: %s\n", oneLine(skipped).c_str());
  if (!opened) {
    usageError_ = session_.usageError();
    return false;
  }
  // The window opens where the module's frame stands, that is where the plug-in saved
  // it last time; from then on the frame follows the window.
  RECT frame;
  GetWindowRect(session_.host().frameWindow(), &frame);
  FrameView view;
  session_.pixels(&view);
  const int width = sizes.factor > 1 ? sizes.width : view.width;
  const int height = sizes.factor > 1 ? sizes.height : view.height;
  scaler_.setUp(width, height, sizes.factor, options_.scaleFilter);
  if (!window_.open(session_.host().frameTitle(), frame.left, frame.top, width, height, error)) {
    return false;
  }
  wallClock_.reset(new WallClock(session_.sampleRate()));
  wallClock_->seek(0);
  if (!options_.capture) {
    std::string why;
    {
      QuietStderr quiet;  // ALSA's lines when there is no device; `why` says it in one
      heard_ = playback_.open(session_.sampleRate(), session_.trackTitle(), &why);
    }
    if (!heard_) fprintf(stderr, "orlimvis: %s; playing silently\n", oneLine(why).c_str());
    if (const char* driver = SDL_GetCurrentAudioDriver()) soundDriver_ = driver;
  }
  return true;
}

int64_t LivePlayer::heardPosition() const {
  return session_.origin() +
         (heard_ ? playbackBase_ + playback_.position() : wallClock_->position());
}

// How long the loop may sleep: until the next frame is due while playing; while paused
// or minimised only as long as Ctrl-C may wait to be seen (a signal does not end SDL's
// wait), or, minimised, until the audio queue needs topping up.
int LivePlayer::waitMillis() const {
  if (quit_ || redraw_) return 0;
  if (paused_) return 250;
  if (hidden()) return 50;
  const FrameClock& clock = session_.clock();
  int64_t now = options_.capture ? wallClock_->position() : heardPosition() - session_.origin();
  int64_t due = lastFrame_ < 0 ? now : clock.frameStart(lastFrame_ + 1);
  int64_t millis = (due - now) * 1000 / session_.sampleRate() + 1;
  // Not yet moved on although due: the audio position advances a device buffer at a
  // time, so look again a little later rather than spin.
  if (millis <= 1) return 4;
  return (int)std::min<int64_t>(millis, 50);
}

void LivePlayer::handleEvent(const SDL_Event& e) {
  if (e.type == SDL_QUIT) {
    quit_ = true;
  } else if (e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) {
    WPARAM key = virtualKeyFor(e.key.keysym.sym);
    if (!key) return;
    LPARAM flags = 1 | ((LPARAM)(e.key.keysym.scancode & 0xFF) << 16);
    if (e.type == SDL_KEYUP) flags |= (LPARAM)0xC0000000u;
    else if (e.key.repeat) flags |= (LPARAM)0x40000000;
    session_.host().sendKey(e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, key, flags);
  } else if (e.type == SDL_WINDOWEVENT) {
    if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
      fitFrameToWindow();
    } else if (e.window.event == SDL_WINDOWEVENT_MOVED) {
      session_.host().moveFrame(e.window.data1, e.window.data2);
    } else if (e.window.event == SDL_WINDOWEVENT_EXPOSED ||
               e.window.event == SDL_WINDOWEVENT_RESTORED ||
               e.window.event == SDL_WINDOWEVENT_SHOWN) {
      redraw_ = true;
    } else if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
      quit_ = true;
    }
  }
}

void LivePlayer::pollEvents() {
  SDL_Event e;
  // The wait reads everything the display has sent; the rest of what it read is then
  // taken from SDL's queue without asking the display again.
  int got = SDL_WaitEventTimeout(&e, waitMillis());
  while (got > 0) {
    handleEvent(e);
    got = SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
  if (interruptRequested() || events_.close) quit_ = true;
}

// --scale's rule at a window size; S swaps it for the other look: full size when the
// rule scales, auto's factor (at least 2) when it does not.
FrameSizes LivePlayer::sizesFor(int width, int height) const {
  FrameSizes sizes = frameSizesFor(width, height, options_.scale);
  if (!otherScale_) return sizes;
  int factor = sizes.factor > 1 ? 1 : std::max(2, autoScaleFactor(sizes.width, sizes.height));
  return frameSizesFor(width, height, factor);
}

// The window changed size (or S was pressed): the plug-in's frame becomes the drawing
// for the window's size, which it rebuilds its surface at, as for any resize.
void LivePlayer::fitFrameToWindow() {
  stopDrawingInPlace();
  int w, h;
  window_.drawableSize(&w, &h);
  const FrameSizes sizes = sizesFor(std::max(1, w), std::max(1, h));
  session_.host().resizeFrame(sizes.drawWidth, sizes.drawHeight);
  scaler_.setUp(sizes.width, sizes.height, sizes.factor, options_.scaleFilter);
  redraw_ = true;
}

bool LivePlayer::seekTo(int64_t sample, std::string* error) {
  int64_t length = session_.trackLength();
  if (length > 0) sample = std::min(sample, length - 1);
  if (!session_.seek(std::max<int64_t>(0, sample), error)) return false;
  playback_.clear();
  wallClock_->seek(0);
  next_ = 0;
  playbackBase_ = 0;
  lastFrame_ = -1;
  return true;
}

void LivePlayer::reportWarnings() {
  for (const std::string& w : session_.takeWarnings())
    fprintf(stderr, "orlimvis: warning: %s\n", oneLine(w).c_str());
}

// The next or previous file of the list, playing from its start; the keys wrap round
// the list, the end of a file (`wrap` false) only goes on to the files after it. A
// file that cannot be played is told and passed over; false when none can (with
// *error set when none of the list can).
bool LivePlayer::changeTrack(int step, bool wrap, std::string* error) {
  const int count = session_.trackCount();
  std::string why;
  for (int tried = 0; tried < count; ++tried) {
    if (!wrap && session_.track() + step >= count) return false;
    const int track = ((session_.track() + step) % count + count) % count;
    const int rate = session_.sampleRate();
    if (!session_.openTrack(track, &why)) {
      fprintf(stderr, "orlimvis: %s\n", oneLine(why).c_str());
      continue;
    }
    reportWarnings();
    if (session_.sampleRate() != rate) {
      wallClock_.reset(new WallClock(session_.sampleRate()));
      if (heard_) {
        {
          QuietStderr quiet;
          heard_ = playback_.open(session_.sampleRate(), session_.trackTitle(), &why);
        }
        if (!heard_) fprintf(stderr, "orlimvis: %s; playing silently\n", oneLine(why).c_str());
        applyVolume();
      }
    }
    playback_.clear();
    playback_.setPaused(paused_);
    wallClock_->seek(0);
    wallClock_->setPaused(paused_);
    next_ = 0;
    playbackBase_ = 0;
    lastFrame_ = -1;
    titleSecond_ = -1;
    redraw_ = true;
    return true;
  }
  *error = "none of the " + std::to_string(count) + " files can be played";
  return false;
}

// Keys the plug-in passed on to the host.
bool LivePlayer::actOnKeys(std::string* error) {
  std::vector<WPARAM> keys;
  keys.swap(events_.keys);
  PluginHost& host = session_.host();
  for (WPARAM key : keys) {
    KeyOutcome outcome = keyAction((uint32_t)key, KeyState{host.moduleCount(), host.runningIndex(),
                                                           !options_.capture, !options_.capture,
                                                           (int)options_.inputs.size()});
    switch (outcome.action) {
      case KeyAction::SwitchModule: {
        // Quit the running module, then init the other, in its place in the window.
        int w, h, x, y;
        window_.drawableSize(&w, &h);
        const FrameSizes sizes = sizesFor(std::max(1, w), std::max(1, h));
        if (!session_.startModule(outcome.module, sizes.drawWidth, sizes.drawHeight, error)) {
          return false;
        }
        SDL_GetWindowPosition(window_.window(), &x, &y);
        host.moveFrame(x, y);
        lastFrame_ = -1;
        redraw_ = true;
        break;
      }
      case KeyAction::Fullscreen: host.sendCommand(CMD_FULLSCREEN, 0); break;
      case KeyAction::ToggleScale:
        otherScale_ = !otherScale_;
        fitFrameToWindow();
        break;
      case KeyAction::TogglePause:
        paused_ = !paused_;
        playback_.setPaused(paused_);  // also kept for a device opened again later
        wallClock_->setPaused(paused_);
        break;
      case KeyAction::Seek: {
        // A file that cannot seek keeps playing where it is.
        std::string why;
        if (!seekTo(heardPosition() + (int64_t)outcome.seekSeconds * session_.sampleRate(), &why)) {
          fprintf(stderr, "orlimvis: %s\n", oneLine(why).c_str());
        }
        break;
      }
      case KeyAction::Volume:
        volume_.step(outcome.volumeStep);
        applyVolume();
        break;
      case KeyAction::Mute:
        volume_.toggleMute();
        applyVolume();
        break;
      case KeyAction::NextTrack:
      case KeyAction::PreviousTrack:
        if (!changeTrack(outcome.action == KeyAction::NextTrack ? 1 : -1, true, error))
          return false;
        break;
      case KeyAction::Quit: quit_ = true; break;
      case KeyAction::None: break;
    }
  }
  if (events_.fullscreen) {
    events_.fullscreen = false;
    stopDrawingInPlace();
    window_.toggleFullscreen();
  }
  return true;
}

// A new volume, heard within a device buffer: what is queued but not yet played is
// taken back and queued again at the new gain.
void LivePlayer::applyVolume() {
  playback_.setGain(volume_.gain());
  if (!heard_) return;
  next_ -= playback_.unqueue();
  queueAudio();
}

// Notices the sound server going away, and connects again once it is back.
void LivePlayer::watchSound() {
  if (!soundLost_) {
    if (!(options_.capture ? capture_.lost() : heard_ && playback_.lost())) return;
    if (options_.capture) {
      capture_.close();
      capture_.silence();
    } else {
      // The picture goes on from what was heard last, now on the wall clock.
      wallClock_->seek(playbackBase_ + playback_.position());
      playback_.close();
      heard_ = false;
    }
    soundLost_ = true;
    nextReconnect_ = monotonicSeconds() + kReconnectSeconds;
    fprintf(stderr, "orlimvis: the sound server went away; drawing on without sound until it is back\n");
    return;
  }
  if (soundDriver_.empty() || monotonicSeconds() < nextReconnect_) return;
  nextReconnect_ = monotonicSeconds() + kReconnectSeconds;
  // SDL's driver keeps its dead connection: starting it again connects anew, and fails
  // at once while no server answers.
  if (SDL_AudioInit(soundDriver_.c_str()) != 0) return;
  std::string why;
  if (options_.capture) {
    if (!capture_.reopen(&why)) return;
  } else {
    if (!playback_.open(session_.sampleRate(), session_.trackTitle(), &why)) return;
    // The sound takes up where the picture is.
    playbackBase_ = next_ = wallClock_->position();
    heard_ = true;
  }
  soundLost_ = false;
  fprintf(stderr, "orlimvis: the sound server is back\n");
}

// Keeps a fifth of a second queued ahead of what is heard.
void LivePlayer::queueAudio() {
  if (!heard_ || options_.capture) return;
  AudioFeed& feed = session_.feed();
  const int64_t ahead = session_.sampleRate() / 5;
  while (playback_.queuedFrames() < ahead) {
    const int chunk = 2048;
    const float* samples = feed.peek(next_, chunk);
    int64_t n = feed.ended() ? std::min<int64_t>(chunk, feed.total() - next_) : chunk;
    if (n <= 0) break;
    playback_.queue(samples, n);
    next_ += n;
  }
}

bool LivePlayer::hidden() const {
  return (SDL_GetWindowFlags(window_.window()) & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN)) != 0;
}

// Renders the frame the clock has reached, if it is a new one and someone can see it;
// a minimised window only keeps the sound going (and the input drained).
void LivePlayer::update() {
  if (paused_) return;
  const FrameClock& clock = session_.clock();
  const bool shown = !hidden();
  if (options_.capture) {
    capture_.collect();
    int64_t frame = clock.frameAt(wallClock_->position());
    if (frame == lastFrame_ || !shown) return;
    lastFrame_ = frame;
    const int length = session_.analysisLength();
    int hop = (int)(clock.frameStart(frame + 1) - clock.frameStart(frame));
    session_.renderWindow(capture_.newest(length), length - hop, length);
  } else {
    queueAudio();
    // The end: all of the audio has been heard (queued and played out, or, silently,
    // passed by the clock).
    if (heard_ ? session_.reachedEnd(next_) && playback_.queuedFrames() == 0
               : session_.reachedEnd(heardPosition() - session_.origin())) {
      // The list plays through once: after its last file, the end. A file that turned
      // bad (with --strict) ends it too, to be reported.
      std::string why;
      if (!session_.audio()->error().empty() || !changeTrack(1, false, &why)) {
        quit_ = true;
        return;
      }
    }
    int64_t frame = clock.frameAt(heardPosition() - session_.origin());
    if (frame == lastFrame_ || !shown) return;
    lastFrame_ = frame;
    session_.renderFrame(frame);
  }
  redraw_ = true;
}

// The plug-in's frame window keeps its pixels in the window's own surface whenever the
// two are the same size, so that a frame the plug-in presents is already where the
// display reads it: the player copies nothing.
void LivePlayer::drawInPlace() {
  FrameView view;
  uint32_t* memory;
  int stride;
  if (!session_.pixels(&view) || !window_.framebuffer(view.width, view.height, &memory, &stride)) {
    return;
  }
  if (memory != view.pixels) session_.host().lendFramePixels(memory, view.width, view.height, stride);
}

// Before the surface may move (the window changes size) or go (the window closes).
void LivePlayer::stopDrawingInPlace() { session_.host().lendFramePixels(nullptr, 0, 0, 0); }

// The frame, and the title: module, track and position (so it changes once a second),
// and the player's state (play_status.h).
void LivePlayer::present() {
  FrameView view;
  if (redraw_ && scaler_.factor() > 1) {
    if (session_.pixels(&view)) window_.showScaled(view, scaler_);
  } else if (redraw_) {
    drawInPlace();
    if (session_.pixels(&view)) window_.show(view);
  }
  redraw_ = false;
  // The title is made again only when something shown in it changes.
  const int64_t second = options_.capture ? 0 : heardPosition() / session_.sampleRate();
  const int module = session_.host().runningIndex();
  const int state = (paused_ ? 1 : 0) | (soundLost_ ? 2 : 0) | (volume_.muted() ? 4 : 0) |
                    volume_.percent() << 3;
  if (second == titleSecond_ && module == titleModule_ && state == titleState_) return;
  titleSecond_ = second;
  titleModule_ = module;
  titleState_ = state;
  PlayTitle title;
  title.module = session_.host().frameTitle();
  title.capturing = options_.capture;
  title.heard = options_.capture ? inputLabel_ : session_.trackTitle();
  title.seconds = (double)second;
  if (!options_.capture) {
    title.track = session_.track();
    title.tracks = session_.trackCount();
  }
  if (!options_.capture && session_.trackLength() > 0) {
    title.lengthSeconds = (double)session_.trackLength() / session_.sampleRate();
  }
  title.paused = paused_;
  title.soundLost = soundLost_;
  title.volume = volume_;
  window_.setTitle(playTitleText(title));
}

int LivePlayer::run(std::string* error) {
  if (!setUp(error)) return usageError_ ? EXIT_USAGE : EXIT_FAILED;
  reportWarnings();
  while (!quit_) {
    pollEvents();
    if (!actOnKeys(error)) return 1;
    if (quit_) break;
    watchSound();
    update();
    reportWarnings();
    present();
  }
  // The next `play` without -m starts with this module.
  session_.rememberModule();
  // Quit the module while the window system still has its windows: it saves the
  // frame's position on the way out.
  session_.host().stop();
  if (interruptRequested()) {
    // Ctrl-C or a termination: the shell's status for that signal, as a render's.
    *error = "interrupted";
    return interruptExitStatus();
  }
  if (!options_.capture && session_.audio() && !session_.audio()->error().empty()) {
    *error = session_.audio()->error();  // the file turned bad part way
    return 1;
  }
  return 0;
}
}  // namespace

int playCommand(const Options& options, std::string* error) {
  // The input's choice has to be made before SDL connects to the sound server.
  Options settings = options;
  std::vector<std::string> notes;
  if (!expandInputs(options.inputs, &settings.inputs, &notes, error)) return 1;
  for (const std::string& note : notes)
    fprintf(stderr, "orlimvis: note: %s\n", oneLine(note).c_str());
  if (!settings.inputs.empty()) settings.audio = settings.inputs[0];
  std::string label;
  if (options.capture &&
      !chooseCaptureInput(options.captureDevice, &settings.captureDevice, &label, error)) {
    return 1;
  }
  // Read by SDL's Pulse and PipeWire drivers when they connect: mixers then list the
  // streams as "orlimvis" with the track, or the input, as the stream's name.
  SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "orlimvis");
  SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME,
              options.capture ? "visualising an input" : "playing");
  SdlSession sdl(SDL_INIT_VIDEO | SDL_INIT_AUDIO);
  if (!sdl.ok) {
    *error = std::string("cannot start SDL: ") + SDL_GetError();
    return 1;
  }
  // With no display SDL falls back to drawing off screen, which nobody would see; only
  // an explicit choice of such a driver gets it.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver && (!strcmp(driver, "offscreen") || !strcmp(driver, "dummy")) &&
      !getenv("SDL_VIDEODRIVER")) {
    const char* x = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    if (x && *x) {
      *error = std::string("play: cannot open the display ") + x + "; use render";
    } else if (wayland && *wayland) {
      *error = std::string("play: cannot open the display ") + wayland + "; use render";
    } else {
      *error = "play: no display to open a window on (DISPLAY is not set); use render";
    }
    return 1;
  }
  LivePlayer player(settings, label);
  return player.run(error);
}

int devicesCommand(const Options&, FILE* out, std::string* error) {
  std::vector<InputDevice> inputs;
  std::string why;
  if (listSoundServerInputs(&inputs, &why)) {
    for (const InputDevice& input : inputs) {
      fprintf(out, "%s\t%s%s\n", input.name.c_str(), input.description.c_str(),
              input.monitor ? "\t[monitor: what an output plays]" : "");
    }
    return 0;
  }
  // No sound server: the inputs SDL's own driver offers, by its names.
  SdlSession sdl(SDL_INIT_AUDIO);
  int count = 0;
  if (sdl.ok) {
    QuietStderr quiet;
    count = SDL_GetNumAudioDevices(1);
  }
  if (count <= 0) {
    *error = "no inputs found (" + why + ")";
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    const char* name = SDL_GetAudioDeviceName(i, 1);
    if (!name) continue;
    fprintf(out, "%s%s\n", name, strstr(name, "Monitor of") ? "\t[monitor: what an output plays]" : "");
  }
  return 0;
}
