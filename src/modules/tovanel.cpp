// Tovanel: a field of 100 star dots whose yellow brightness follows band 0, under the
// 21 particles drawn as filled 36-sided polygons, each a polar plot of 36 consecutive
// bands of its channel around the particle's centre. The surface is cleared every
// frame; silent frames scatter the stars and bring back particles beyond the right or
// bottom edge.

#include "draw/draw_surface.h"
#include "math/crmath.h"  // sincos: the same bits on every build
#include "modules/module_common.h"
#include "modules/modules.h"
#include "state/vis_state.h"

namespace {

const int kVertices = 36;
const int kBandSpacing = 26;
const int kGlowFall = 10;
const int kGlowFloor = 50;
const double kDegreesToRadians = 0.0174532925;  // this value, not a more exact pi / 180
const double kBounce = -1.0;
const COLORREF kBackground = RGB(0, 0, 50);

// cos and sin of the 36 vertex angles, the same every frame: worked out on first use.
struct VertexDirections {
  double cosine[kVertices], sine[kVertices];
  VertexDirections() {
    for (int k = 0; k < kVertices; ++k)
      crmath::sincos((10 * k) * kDegreesToRadians, &sine[k], &cosine[k]);
  }
};

const VertexDirections& vertexDirections() {
  static const VertexDirections directions;
  return directions;
}

// The level jumps up with band 0, falls by at most 10 a frame and stays at 50 or more.
void updateGlow(const VisModule* module) {
  const int a = 2 * (module->spectrum[0][0] + module->spectrum[1][0]);
  int level;
  if (a > 255) {
    level = 255;
  } else {
    const int fallen = visState.glowLevel - kGlowFall;
    level = a > fallen ? a : fallen;
    if (level < kGlowFloor) level = kGlowFloor;
  }
  visState.glowLevel = level;
}

// Only centres strictly beyond the right or bottom edge come back; one on the edge or
// at a negative coordinate is left where it is.
void placeAfresh() {
  VisState& s = visState;
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    if (s.posX[i] > s.surfaceWidth || s.posY[i] > s.surfaceHeight) {
      s.posX[i] = visRandBelow(s.surfaceWidth);
      s.posY[i] = visRandBelow(s.surfaceHeight);
    }
  }
  for (int k = 0; k < VIS_STARS; ++k) {
    s.stars[k].x = visRandBelow(s.surfaceWidth);
    s.stars[k].y = visRandBelow(s.surfaceHeight);
  }
}

void drawStars() {
  // Red and green at the level, blue 0: a yellow.
  const COLORREF colour = 257u * static_cast<COLORREF>(visState.glowLevel);
  selectNewPen(1, colour);
  selectNewFillBrush(colour);
  for (int k = 0; k < VIS_STARS; ++k) {
    const POINT star = visState.stars[k];
    Ellipse(drawSurface.dc, star.x - 2, star.y - 2, star.x + 2, star.y + 2);
  }
  deletePenSlot();
  deleteFillBrushSlot();
}

void drawPolygon(int i, const VisModule* module, POINT* vertices) {
  VisState& s = visState;
  s.posX[i] += s.velX[i];
  s.posY[i] += s.velY[i];
  // The reversed step takes effect from the next frame; this one draws where it is.
  if (s.posX[i] >= s.surfaceWidth || s.posX[i] <= 0) s.velX[i] *= kBounce;
  if (s.posY[i] >= s.surfaceHeight || s.posY[i] <= 0) s.velY[i] *= kBounce;

  const unsigned char* window = module->spectrum[channelPick(i, module->channels)] + kBandSpacing * i;
  const VertexDirections& d = vertexDirections();
  for (int k = 0; k < kVertices; ++k) {
    const int r = 4 * window[k] + 5;
    vertices[k].x = truncToInt(r * d.cosine[k] + s.posX[i]);
    vertices[k].y = truncToInt(r * d.sine[k] + s.posY[i]);
  }
  const int last = window[kVertices - 1];
  const int red = 2 * last <= 255 ? 2 * last : 255;
  const COLORREF colour = 3072u * static_cast<COLORREF>(i) + static_cast<COLORREF>(red);
  selectNewPen(1, colour);
  selectNewFillBrush(colour);
  Polygon(drawSurface.dc, vertices, kVertices);
  deletePenSlot();
  deleteFillBrushSlot();
}

}  // namespace

int renderTovanel(VisModule* module) {
  HBRUSH background = newBackBrush(kBackground);
  updateGlow(module);
  clearSurface(background);
  if (silentFrame(module)) placeAfresh();
  drawStars();
  POINT vertices[kVertices];  // one buffer, refilled for every polygon
  for (int i = 0; i < VIS_PARTICLES; ++i) drawPolygon(i, module, vertices);
  presentSurface();
  deleteBackBrushSlot();
  return 0;
}
