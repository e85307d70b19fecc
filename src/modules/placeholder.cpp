// Interim render operations: clear the surface to black and present it.
#include "draw/draw_surface.h"
#include "modules/modules.h"

namespace {
int clearAndPresent() {
  HBRUSH brush = newBackBrush(RGB(0, 0, 0));
  clearSurface(brush);
  presentSurface();
  deleteBackBrushSlot();
  return 0;
}
}  // namespace

int renderZarvenn(VisModule*) { return clearAndPresent(); }
int renderPellox(VisModule*) { return clearAndPresent(); }
int renderAmbrith(VisModule*) { return clearAndPresent(); }
int renderTovanel(VisModule*) { return clearAndPresent(); }
void kochEdge(int, int, int, int, int) {}
