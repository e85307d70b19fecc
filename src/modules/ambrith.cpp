// Ambrith: the 21 particles as bouncing bubbles whose radius is one band's level, each
// outlined in the complement of its random fill; a bubble wider than 40 also gets a
// ring of small satellites in random colours. The surface is cleared, and the bubbles
// scattered afresh, only in silent frames, so the bubbles leave trails.
#include <stdint.h>

#include "draw/draw_surface.h"
#include "math/crmath.h"  // sincos: the same bits on every build
#include "modules/module_common.h"
#include "modules/modules.h"
#include "state/vis_state.h"

namespace {

const int kBandSpacing = 26;
const int kThresholdDivisor = 5;
const int kColourModulus = 255;
const int kSatelliteRadius = 40;  // strictly above it a bubble gets satellites
const double kFullCircle = 360.0;
const double kDegreesToRadians = 0.0174532925;  // this value, not a more exact pi / 180
const double kBounce = -1.0;

void scatter() {
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    visState.posX[i] = visRandBelow(visState.surfaceWidth);
    visState.posY[i] = visRandBelow(visState.surfaceHeight);
  }
}

// An edge reversal and a spectrum reversal in the same frame cancel out, since both
// act on the velocity in turn.
void moveAndReverse(int i, const unsigned char* bands, int base) {
  VisState& s = visState;
  const int threshold = (576 - kBandSpacing * i) / kThresholdDivisor;
  s.posX[i] += s.velX[i];
  s.posY[i] += s.velY[i];
  if (s.posX[i] >= s.surfaceWidth || s.posX[i] <= 0) s.velX[i] *= kBounce;
  if (s.posY[i] >= s.surfaceHeight || s.posY[i] <= 0) s.velY[i] *= kBounce;
  if (bands[base] > threshold) s.velX[i] *= kBounce;
  if (bands[base - 1] > threshold) s.velY[i] *= kBounce;
}

// The satellites of a ring of `count` sit at the same angles in every frame: their
// cos and sin are kept per count once worked out, for counts below kKeptCounts (radii
// below 320); larger rings, if any, compute theirs each time.
const int kKeptCounts = 33;
struct SatelliteDirections {
  double sine[kKeptCounts][kKeptCounts], cosine[kKeptCounts][kKeptCounts];
  bool known[kKeptCounts];
};
SatelliteDirections satelliteDirections;

double satelliteAngle(int k, int count) {
  const double step = kFullCircle / count;
  return (k * step) * kDegreesToRadians;
}

void satelliteDirection(int k, int count, double* sine, double* cosine) {
  if (count >= kKeptCounts) {
    crmath::sincos(satelliteAngle(k, count), sine, cosine);
    return;
  }
  SatelliteDirections& d = satelliteDirections;
  if (!d.known[count]) {
    for (int j = 0; j < count; ++j)
      crmath::sincos(satelliteAngle(j, count), &d.sine[count][j], &d.cosine[count][j]);
    d.known[count] = true;
  }
  *sine = d.sine[count][k];
  *cosine = d.cosine[count][k];
}

// The ring keeps the bubble's pen; each satellite replaces the brush before it. Its
// colour's first draw goes to blue, unlike the bubble's fill.
void drawSatellites(int i, int r) {
  const int ringRadius = visRand() % (3 * r);
  const int half = visRand() % (r / 2);
  const int count = r / 10 + 1;
  for (int k = 0; k < count; ++k) {
    deleteFillBrushSlot();
    const int q1 = visRand() % kColourModulus;
    const int q2 = visRand() % kColourModulus;
    const int q3 = visRand() % kColourModulus;
    selectNewFillBrush(RGB(q3, q2, q1));
    double sine, cosine;
    satelliteDirection(k, count, &sine, &cosine);
    const int x = truncToInt(visState.posX[i] + ringRadius * cosine);
    const int y = truncToInt(visState.posY[i] + ringRadius * sine);
    Ellipse(drawSurface.dc, clampToInt(int64_t{x} - half), clampToInt(int64_t{y} - half),
            clampToInt(int64_t{x} + half), clampToInt(int64_t{y} + half));
  }
}

void runParticle(int i, const VisModule* module) {
  const unsigned char* bands = module->spectrum[channelPick(i, module->channels)];
  const int base = kBandSpacing * (i + 1);
  moveAndReverse(i, bands, base);

  const int r = bands[base - 2];
  const int d1 = visRand() % kColourModulus;
  const int d2 = visRand() % kColourModulus;
  const int d3 = visRand() % kColourModulus;
  selectNewPen(r / 10, RGB(255 - d1, 255 - d2, 255 - d3));
  selectNewFillBrush(RGB(d1, d2, d3));
  if (r > 0) {
    const double x = visState.posX[i], y = visState.posY[i];
    Ellipse(drawSurface.dc, truncToInt(x - r), truncToInt(y - r), truncToInt(x + r),
            truncToInt(y + r));
  }
  if (r > kSatelliteRadius) drawSatellites(i, r);
  deleteFillBrushSlot();
  deletePenSlot();
}

}  // namespace

int renderAmbrith(VisModule* module) {
  HBRUSH background = newBackBrush(RGB(0, 0, 0));
  if (silentFrame(module)) {
    clearSurface(background);
    scatter();
  }
  for (int i = 0; i < VIS_PARTICLES; ++i) runParticle(i, module);
  presentSurface();
  deleteBackBrushSlot();
  return 0;
}
