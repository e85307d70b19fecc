// `play`: the effect live in an SDL2 window, with the audio heard through SDL2 or, with
// --capture, the spectrum of an input device. Keys pressed in the window go to the
// plug-in's window as key messages, the plug-in forwards them to the host window, and
// the host acts on them there, as a media player does with keys its visualisation sees.
#include <SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "audio/capture.h"
#include "output/live_window.h"
#include "output/output_file.h"
#include "player.h"

namespace {
// Virtual-key codes of the keys the host acts on (letters and digits are their ASCII).
enum : WPARAM { KEY_SPACE = 0x20, KEY_ESCAPE = 0x1B, KEY_LEFT = 0x25, KEY_RIGHT = 0x27 };

WPARAM virtualKeyFor(SDL_Keycode key) {
  if (key >= SDLK_0 && key <= SDLK_9) return (WPARAM)('0' + (key - SDLK_0));
  if (key >= SDLK_a && key <= SDLK_z) return (WPARAM)('A' + (key - SDLK_a));
  switch (key) {
    case SDLK_SPACE: return KEY_SPACE;
    case SDLK_ESCAPE: return KEY_ESCAPE;
    case SDLK_LEFT: return KEY_LEFT;
    case SDLK_RIGHT: return KEY_RIGHT;
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
  explicit SdlSession(Uint32 flags) : ok(SDL_Init(flags) == 0) {}
  ~SdlSession() {
    if (ok) SDL_Quit();
  }
};
}  // namespace

int Player::play(std::string* error) {
  if (!loadPlugin(error)) return 1;
  int index;
  if (!pickModule(&index, error)) return 1;

  AudioClip clip;
  if (!options_.capture && !loadAudio(&clip, error)) return 1;
  if (options_.capture && options_.captureDevice.empty()) {
    // PulseAudio (and PipeWire's Pulse server) name the monitor of the default output
    // "@DEFAULT_MONITOR@"; as the default source, it is what SDL's default input opens.
    // It must be in place before SDL connects to the server.
    setenv("PULSE_SOURCE", "@DEFAULT_MONITOR@", 0);
  }
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
    *error = "play: no display to open a window on (DISPLAY is not set); use render";
    return 1;
  }
  AudioCapture capture;
  int sampleRate = clip.sampleRate;
  int channels = clip.streamChannels;
  if (options_.capture) {
    if (!capture.open(options_.captureDevice, 16384, error)) return 1;
    sampleRate = capture.sampleRate();
    channels = capture.channels();
    fprintf(stderr, "orlimvis: visualising %s\n", capture.deviceName().c_str());
  }
  if (!makeAnalyser(sampleRate, error)) return 1;

  PlayEvents events;
  host_->setEvents(&events);
  VisPixels pixels;
  if (!startModule(index, &pixels, error)) return 1;
  // The window opens where the module's frame stands, that is where the plug-in saved
  // it last time; from then on the frame follows the window.
  RECT frame;
  GetWindowRect(host_->frameWindow(), &frame);
  LiveWindow window;
  if (!window.open(host_->frameTitle(), frame.left, frame.top, pixels.width, pixels.height,
                   error)) {
    return 1;
  }

  AudioPlayback playback;
  WallClock wallClock(sampleRate);
  bool heard = false;
  if (!options_.capture) {
    std::string why;
    heard = playback.open(&clip, &why);
    if (!heard) fprintf(stderr, "orlimvis: %s; playing silently\n", why.c_str());
  }
  wallClock.seek(0);
  auto position = [&]() { return heard ? playback.position() : wallClock.position(); };

  const int windowLength = spectrumWindowLength(analyser_);
  const int hop = sampleRate / 40;
  unsigned char spectrum[2][SPECTRUM_BANDS];
  int64_t lastTick = -1;
  bool paused = false, quit = false, redraw = true;
  while (!quit) {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
      if (e.type == SDL_QUIT) {
        quit = true;
      } else if (e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) {
        WPARAM key = virtualKeyFor(e.key.keysym.sym);
        if (!key) continue;
        LPARAM flags = 1 | ((LPARAM)(e.key.keysym.scancode & 0xFF) << 16);
        if (e.type == SDL_KEYUP) flags |= (LPARAM)0xC0000000u;
        else if (e.key.repeat) flags |= (LPARAM)0x40000000;
        host_->sendKey(e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, key, flags);
      } else if (e.type == SDL_WINDOWEVENT) {
        if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
          int w, h;
          window.drawableSize(&w, &h);
          host_->resizeFrame(std::max(1, w), std::max(1, h));
          redraw = true;
        } else if (e.window.event == SDL_WINDOWEVENT_MOVED) {
          host_->moveFrame(e.window.data1, e.window.data2);
        } else if (e.window.event == SDL_WINDOWEVENT_EXPOSED) {
          redraw = true;
        } else if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
          quit = true;
        }
      }
    }
    if (interruptRequested() || events.close) quit = true;

    // Keys the plug-in passed on to the host.
    std::vector<WPARAM> keys;
    keys.swap(events.keys);
    for (WPARAM key : keys) {
      if (key >= '1' && key <= '9') {
        int next = (int)(key - '1');
        if (next < host_->moduleCount() && next != host_->runningIndex()) {
          // Quit the running module, then init the other, in its place in the window.
          int w, h;
          window.drawableSize(&w, &h);
          host_->stop();
          host_->setPreferredFrameSize(w, h);
          if (!host_->start(next, error)) return 1;
          int x, y;
          SDL_GetWindowPosition(window.window(), &x, &y);
          host_->moveFrame(x, y);
          lastTick = -1;
          redraw = true;
        }
      } else if (key == 'F') {
        host_->sendCommand(CMD_FULLSCREEN, 0);
      } else if (key == KEY_SPACE) {
        paused = !paused;
        if (heard) playback.setPaused(paused);
        wallClock.setPaused(paused);
      } else if ((key == KEY_LEFT || key == KEY_RIGHT) && !options_.capture) {
        int64_t step = (int64_t)sampleRate * 5 * (key == KEY_LEFT ? -1 : 1);
        int64_t target = std::max<int64_t>(0, std::min(position() + step, clip.frameCount()));
        if (heard) playback.seek(target);
        wallClock.seek(target);
        lastTick = -1;
      } else if (key == KEY_ESCAPE || key == 'Q') {
        quit = true;
      }
    }
    if (events.fullscreen) {
      events.fullscreen = false;
      window.toggleFullscreen();
    }
    if (quit) break;

    if (heard) playback.feed();
    if (!paused) {
      int64_t tick;
      if (options_.capture) {
        capture.collect();
        tick = wallClock.position() / std::max(1, hop);
      } else {
        tick = position() * 40 / sampleRate;
      }
      if (tick != lastTick) {
        lastTick = tick;
        if (options_.capture) {
          spectrumExecute(analyser_, capture.newest(windowLength), windowLength - hop,
                          windowLength, spectrum);
        } else {
          spectrumAnalyseTick(analyser_, clip, tick, spectrum);
        }
        host_->renderFrame(spectrum, channels, sampleRate);
        redraw = true;
      }
    }
    if (redraw && host_->framePixels(&pixels)) {
      window.show(FrameView{pixels.pixels, pixels.width, pixels.height, pixels.stride});
      redraw = false;
    }
    window.setTitle(host_->frameTitle());
    if (!options_.capture && !paused &&
        (heard ? playback.finished() : position() >= clip.frameCount())) {
      quit = true;
    }
    SDL_Delay(2);
  }
  // Quit the module while the window system still has its windows: it saves the
  // frame's position on the way out.
  host_->stop();
  return 0;
}
