// The state an effect draws from when a program runs the effects without a host (the
// effects' tests, the frame hashes, the benchmarks, the Wine parity runs): every
// shared value as the freshly loaded library has it, and a drawing surface of a given
// size, built as init builds it. Init's windows and settings file are left out; the
// tests that need them go through the test host (test_host.h).
#pragma once

#include "vis_header.h"  // HWND, through the platform's Win32 subset

// Sizes the shared values for a width x height surface and builds it, keeping every
// other value: what the visualisation window does when it is resized.
void setEffectSurface(int width, int height);

// Every shared value back to its state at load, then a width x height surface for
// `window` (null: drawn off-screen, with no window to present to).
void resetEffectSurface(int width, int height, HWND window = nullptr);

// resetEffectSurface, then the generator seeded with `seed` and the particles placed:
// the state an effect's first frame starts from after init.
void startEffect(int width, int height, unsigned seed, HWND window = nullptr);
