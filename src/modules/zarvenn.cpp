// Zarvenn: the 21 particles as white Koch snowflakes that drift and bounce over a
// background whose grey level follows band 0. Band 0 also turns every flake by the
// same whole number of radians; two neighbouring bands per flake set its size, and the
// size sets the depth of its curves.
#include <math.h>  // sqrt: correctly rounded by IEEE on every build

#include "draw/draw_surface.h"
#include "math/crmath.h"  // sincos: the same bits on every build
#include "modules/module_common.h"
#include "modules/modules.h"
#include "state/vis_state.h"

namespace {

const int kBandSpacing = 26;
const int kBrightnessStep = 5;
const int kRotationDivisor = 36;
const double kSizeDecay = 5.0;
const double kCornerAngle = 2.0943951;  // this value, not a more exact 2 pi / 3
const double kDepthFactor = 0.25;
const double kBounce = -1.0;

// The grey level rises by at most 5 a frame towards 255 - 2 x (band 0 of both
// channels) and drops at once; a sum of 128 or more is black.
void drawBackground(const VisModule* module) {
  const int b = 2 * (module->spectrum[0][0] + module->spectrum[1][0]);
  int level = 0;
  if (b <= 255) {
    const int target = 255 - b;
    const int risen = visState.glowLevel + kBrightnessStep;
    level = target < risen ? target : risen;
  }
  visState.glowLevel = level;
  // The brush only serves the fill; it is kept in the fill-brush slot and never
  // selected.
  drawSurface.fillBrush = CreateSolidBrush(static_cast<COLORREF>(level) * 0x010101u);
  clearSurface(drawSurface.fillBrush);
  deleteFillBrushSlot();
}

void moveAndBounce(int i) {
  VisState& s = visState;
  s.posX[i] += s.velX[i];
  s.posY[i] += s.velY[i];
  // Tested on the new position, which is not clamped: the flake is drawn where it is.
  if (s.posX[i] >= s.surfaceWidth || s.posX[i] <= 0) s.velX[i] *= kBounce;
  if (s.posY[i] >= s.surfaceHeight || s.posY[i] <= 0) s.velY[i] *= kBounce;
}

void turn(int i, const VisModule* module) {
  const int s0 = module->spectrum[0][0];
  const int s1 = module->spectrum[1][0];
  // Integer quotients: every flake turns by the same whole number of radians.
  if (s1 > s0) {
    visState.heading[i] += s1 / kRotationDivisor;
  } else {
    visState.heading[i] -= s0 / kRotationDivisor;
  }
}

// The size follows its band pair at once when that is larger, and otherwise falls by
// at most 5 a frame, kept a whole number.
void resize(int i, const VisModule* module) {
  const int ch = channelPick(i, module->channels);
  const int k = kBandSpacing * (i + 1);
  const int h = module->spectrum[ch][k] + module->spectrum[ch][k - 1];
  const double d = visState.spanLen[i] - kSizeDecay;
  visState.spanLen[i] = h < d ? trunc(d) : h;
}

void drawFlake(int i) {
  const double size = visState.spanLen[i];
  const int cx = truncToInt(visState.posX[i]);
  const int cy = truncToInt(visState.posY[i]);
  const double heading = visState.heading[i];
  const double angleB = heading - kCornerAngle;
  const double angleC = heading + kCornerAngle;
  double sinA, cosA, sinB, cosB, sinC, cosC;
  crmath::sincos(heading, &sinA, &cosA);
  crmath::sincos(angleB, &sinB, &cosB);
  crmath::sincos(angleC, &sinC, &cosC);
  const int ax = truncToInt(cx + size * cosA);
  const int ay = truncToInt(cy + size * sinA);
  const int bx = truncToInt(cx + size * cosB);
  const int by = truncToInt(cy + size * sinB);
  const int qx = truncToInt(cx + size * cosC);
  const int qy = truncToInt(cy + size * sinC);
  const int depth = truncToInt(sqrt(size) * kDepthFactor);
  // A, B, C in order of decreasing angle: every Koch peak points outward.
  kochEdge(ax, ay, bx, by, depth);
  kochEdge(bx, by, qx, qy, depth);
  kochEdge(qx, qy, ax, ay, depth);
}

}  // namespace

int renderZarvenn(VisModule* module) {
  drawBackground(module);
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    moveAndBounce(i);
    turn(i, module);
    resize(i, module);
    drawFlake(i);
  }
  presentSurface();
  return 0;
}
