// The frame-hash run that every build checks, apart from any test framework so that the
// web build runs the same code in a browser: each effect renders 120 frames at 640 x 480
// from a fixed seed (silence, synthetic music, random spectra, every band loud,
// alternating bands, more music), and a running FNV-1a hash of the surface is kept
// after every tenth-and-so frame. The expected values are frame_hashes.inc.
#pragma once

#include <stdint.h>

#include "vis_header.h"  // VisModule

enum { FRAME_HASH_EFFECTS = 4, FRAME_HASH_FRAMES = 120, FRAME_HASH_CHECKPOINTS = 10 };

struct FrameHashExpected {
  const char* name;
  int (*render)(VisModule*);
  uint64_t checkpoints[FRAME_HASH_CHECKPOINTS];  // the running hash after frames 11, 23, ..., 119
};

// The list of frame_hashes.inc, one row per effect.
extern const FrameHashExpected kFrameHashExpected[FRAME_HASH_EFFECTS];

// Runs effect `effect` (a row of kFrameHashExpected) from a fresh state and fills its
// checkpoints. Returns the first frame whose checkpoint differs from the expected one,
// or -1 when all agree; -2 when the surface has no pixels. Leaves the surface released.
int runFrameHashes(int effect, uint64_t computed[FRAME_HASH_CHECKPOINTS]);

// FNV-1a over the surface's pixels, 32 bits at a time, chained from `h`.
uint64_t hashSurfacePixels(uint64_t h, bool* ok);

// One row as frame_hashes.inc writes it, for a list this build computed.
void formatFrameHashRow(int effect, const uint64_t computed[FRAME_HASH_CHECKPOINTS],
                        char* line, int size);
