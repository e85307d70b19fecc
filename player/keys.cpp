// play's key table: which key does what, and when a key does nothing. See keys.h.
#include "keys.h"

namespace {
// How far Left and Right move through the track.
constexpr int kSeekSeconds = 5;
}  // namespace

KeyOutcome keyAction(uint32_t key, const KeyState& state) {
  KeyOutcome out;
  if (key >= '1' && key <= '9') {
    int next = (int)(key - '1');
    if (next < state.moduleCount && next != state.runningModule) {
      out.action = KeyAction::SwitchModule;
      out.module = next;
    }
  } else if (key == 'F') {
    out.action = KeyAction::Fullscreen;
  } else if (key == 'S') {
    out.action = KeyAction::ToggleScale;
  } else if (key == KEY_SPACE) {
    out.action = KeyAction::TogglePause;
  } else if ((key == KEY_LEFT || key == KEY_RIGHT) && state.canSeek) {
    out.action = KeyAction::Seek;
    out.seekSeconds = key == KEY_LEFT ? -kSeekSeconds : kSeekSeconds;
  } else if ((key == KEY_UP || key == KEY_DOWN) && state.audible) {
    out.action = KeyAction::Volume;
    out.volumeStep = key == KEY_UP ? 1 : -1;
  } else if (key == 'M' && state.audible) {
    out.action = KeyAction::Mute;
  } else if ((key == 'N' || key == 'P') && state.tracks > 1) {
    // The list wraps around, as a media player's does.
    out.action = key == 'N' ? KeyAction::NextTrack : KeyAction::PreviousTrack;
  } else if (key == KEY_ESCAPE || key == 'Q') {
    out.action = KeyAction::Quit;
  }
  return out;
}
