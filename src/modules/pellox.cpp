// Pellox: the 21 particles as a swarm of filled discs. Each particle listens to a pair
// of neighbouring bands of its channel, which set its orbs' radius, pen width and
// palette and can reverse it; band 0 of the louder channel turns all of them, and each
// moves five steps along its heading per frame, leaving an orb after every step. The
// surface is cleared only in silent frames, so the orbs leave trails.

#include "draw/draw_surface.h"
#include "math/crmath.h"  // sincos: the same bits on every build
#include "modules/module_common.h"
#include "modules/modules.h"
#include "state/vis_state.h"

namespace {

const int kBandSpacing = 26;
const int kGroupSize = 7;
const int kStepsPerFrame = 5;
const int kLoudRadius = 50;
const int kMinRadius = 2;
const double kTurnFactor = 0.2;
const COLORREF kBackground = RGB(0, 0, 50);

// Silent frames gather the swarm into three clusters of seven, one random point each.
void regroup() {
  for (int first = 0; first < VIS_PARTICLES; first += kGroupSize) {
    const int x = visRandBelow(visState.surfaceWidth);
    const int y = visRandBelow(visState.surfaceHeight);
    for (int i = first; i < first + kGroupSize; ++i) {
      visState.posX[i] = x;
      visState.posY[i] = y;
    }
  }
}

// A fresh colour per orb: the loud palette is magenta-ish, the quiet one green-blue.
// Each component is its own statement so the draws happen in this order.
COLORREF orbColour(int r) {
  if (r >= kLoudRadius) {
    const int red = visRand() % 127 + 128;
    const int green = visRand() % 127;
    const int blue = visRand() % 127 + 128;
    return RGB(red, green, blue);
  }
  const int green = visRand() % 127 + 128;
  const int blue = visRand() % 100;
  return RGB(0, green, blue);
}

// Not a bounce: a particle beyond an edge is mirrored about the surface's centre line,
// so it reappears just beyond the opposite edge and travels on.
void mirrorAtEdges(int i) {
  VisState& s = visState;
  if (s.posX[i] >= s.surfaceWidth || s.posX[i] <= 0) s.posX[i] = s.surfaceWidth - s.posX[i];
  if (s.posY[i] >= s.surfaceHeight || s.posY[i] <= 0) s.posY[i] = s.surfaceHeight - s.posY[i];
}

void runParticle(int i, const VisModule* module) {
  VisState& s = visState;
  const int c = channelPick(i, module->channels);
  const int k = kBandSpacing * (i + 1);
  const int lower = module->spectrum[c][k - 1];
  const int upper = module->spectrum[c][k];
  const int r = (lower + upper) / 4;
  const int radius = r < kMinRadius ? kMinRadius : r;
  const int threshold = (576 - kBandSpacing * i) / 10;

  mirrorAtEdges(i);
  if (upper > threshold) s.velX[i] = -s.velX[i];

  const int s0 = module->spectrum[0][0];
  const int s1 = module->spectrum[1][0];
  for (int step = 0; step < kStepsPerFrame; ++step) {
    const COLORREF colour = orbColour(r);
    selectNewPen(radius / 10, colour);
    selectNewFillBrush(colour);
    // Ties take the subtracting branch.
    if (s1 > s0) {
      s.heading[i] += kTurnFactor * s1;
    } else {
      s.heading[i] -= kTurnFactor * s0;
    }
    // velX is the speed along the heading; a negative one runs backwards.
    double sine, cosine;
    crmath::sincos(s.heading[i], &sine, &cosine);
    s.posX[i] += cosine * s.velX[i];
    s.posY[i] += sine * s.velX[i];
    Ellipse(drawSurface.dc, truncToInt(s.posX[i] - radius), truncToInt(s.posY[i] - radius),
            truncToInt(s.posX[i] + radius), truncToInt(s.posY[i] + radius));
    deleteFillBrushSlot();
    deletePenSlot();
  }
}

}  // namespace

int renderPellox(VisModule* module) {
  HBRUSH background = newBackBrush(kBackground);
  if (silentFrame(module)) {
    clearSurface(background);
    regroup();
  }
  for (int i = 0; i < VIS_PARTICLES; ++i) runParticle(i, module);
  presentSurface();
  deleteBackBrushSlot();
  return 0;
}
