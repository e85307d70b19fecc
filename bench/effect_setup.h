// The state every effect benchmark starts from: the shared values reset, a surface of the
// given size built for `window` (null: no window, as the frame benches draw off-screen),
// the generator seeded and the particles placed, the same way on every run.
#pragma once

#include "draw/draw_surface.h"
#include "state/vis_state.h"

inline void setUpEffect(int width, int height, HWND window = nullptr) {
  resetVisStateForTests();
  visState.visWindow = window;
  visState.surfaceWidth = width;
  visState.surfaceHeight = height;
  visState.surfaceRect = {0, 0, width, height};
  buildSurface(width, height);
  visSrand(12345);
  seedParticles();
}
