// The process-wide animation state that all four effects share, the plug-in's own
// random generator, and the rule that seeds the particles at init.
//
// The state is one set of globals by design: it outlives a run, so an effect started
// after another inherits whatever the unseeded values hold. Only the visualisation
// thread touches it; nothing is locked.
#pragma once

#include "platform/win32.h"

struct VisModule;

enum { VIS_PARTICLES = 21, VIS_STARS = 100 };

struct VisState {
  double posX[VIS_PARTICLES];
  double posY[VIS_PARTICLES];
  double velX[VIS_PARTICLES];
  double velY[VIS_PARTICLES];
  double heading[VIS_PARTICLES];
  double spanLen[VIS_PARTICLES];
  int glowLevel;
  POINT stars[VIS_STARS];
  int surfaceWidth;
  int surfaceHeight;
  RECT surfaceRect;
  int framePosX;
  int framePosY;
  int hostToggle;
  VisModule* activeModule;
  HWND visWindow;           // the visualisation window, 0 while none exists
  bool classRegistered;     // "SimpleVis" is registered by this library
};

extern VisState visState;

// The C runtime's linear congruential generator, reproduced so that every platform
// draws the same sequence and the host's own rand() cannot disturb it.
void visSrand(unsigned int seed);
int visRand(void);  // 0..32767

// rand() mod size, with a size below 1 taken as 1 so an empty surface cannot divide
// by zero.
int visRandBelow(int size);

// Places every particle at random inside the surface with positive steps.
void seedParticles(void);

// Restores every value to its state at load (tests only: a loaded library never
// resets).
void resetVisStateForTests(void);
