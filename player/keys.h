// What `play` does with a key that the plug-in passed on to the host: a pure function
// from the key and the player's state to an action, so that the table is tested
// without a window. Keys arrive as Win32 virtual-key codes (letters and digits are
// their upper-case ASCII).
#pragma once

#include <stdint.h>

enum : uint32_t {
  KEY_SPACE = 0x20,
  KEY_ESCAPE = 0x1B,
  KEY_LEFT = 0x25,
  KEY_UP = 0x26,
  KEY_RIGHT = 0x27,
  KEY_DOWN = 0x28
};

enum class KeyAction {
  None, SwitchModule, Fullscreen, TogglePause, Seek, Volume, Mute, NextTrack, PreviousTrack, Quit,
  ToggleScale
};

struct KeyOutcome {
  KeyAction action = KeyAction::None;
  int module = -1;          // SwitchModule: the module to start
  int seekSeconds = 0;      // Seek: how far, negative for back
  int volumeStep = 0;       // Volume: +1 one step up, -1 one step down
};

struct KeyState {
  int moduleCount;
  int runningModule;
  bool canSeek;             // playing a file or the tune, not capturing
  bool audible;             // the player plays the sound itself (so it has a volume)
  int tracks = 1;           // files in the play list
};

KeyOutcome keyAction(uint32_t virtualKey, const KeyState& state);
