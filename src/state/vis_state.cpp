// The shared animation state, the generator and the seeding rule.
#include "state/vis_state.h"

#include <string.h>

VisState visState = {
    {}, {}, {}, {}, {}, {},  // particle arrays
    0,                       // glowLevel
    {},                      // stars
    0, 0,                    // surfaceWidth, surfaceHeight
    {0, 0, 0, 0},            // surfaceRect
    50, 50,                  // framePosX, framePosY
    0,                       // hostToggle
    nullptr,                 // activeModule
    nullptr,                 // visWindow
    false,                   // classRegistered
};

namespace {
// The generator's state belongs to the visualisation thread, as the runtime's does.
unsigned int generatorState = 1;
}  // namespace

void visSrand(unsigned int seed) { generatorState = seed; }

int visRand(void) {
  // The 32-bit state wraps modulo 2^32 by unsigned arithmetic; the result is bits
  // 16..30 of the new state.
  generatorState = generatorState * 214013u + 2531011u;
  return static_cast<int>((generatorState >> 16) & 0x7fffu);
}

int visRandBelow(int size) { return visRand() % (size < 1 ? 1 : size); }

void seedParticles(void) {
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    visState.posX[i] = visRandBelow(visState.surfaceWidth);
    visState.posY[i] = visRandBelow(visState.surfaceHeight);
    visState.velX[i] = visRand() % 10 + 1;
    visState.velY[i] = visRand() % 10 + 1;
    visState.heading[i] = visRand();
  }
}

void resetVisStateForTests(void) {
  memset(&visState, 0, sizeof visState);
  visState.framePosX = 50;
  visState.framePosY = 50;
  generatorState = 1;
}
