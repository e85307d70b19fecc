// The host-less start of an effect (effect_surface.h).
#include "effect_surface.h"

#include "draw/draw_surface.h"
#include "state/vis_state.h"

void setEffectSurface(int width, int height) {
  visState.surfaceWidth = width;
  visState.surfaceHeight = height;
  visState.surfaceRect = {0, 0, width, height};
  buildSurface(width, height);
}

void resetEffectSurface(int width, int height, HWND window) {
  resetVisStateForTests();
  visState.visWindow = window;
  setEffectSurface(width, height);
}

void startEffect(int width, int height, unsigned seed, HWND window) {
  resetEffectSurface(width, height, window);
  visSrand(seed);
  seedParticles();
}
