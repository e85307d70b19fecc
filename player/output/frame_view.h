// A read-only view of one frame's pixels as the outputs take it: 32-bit 0x00RRGGBB,
// rows top-down, stride in pixels. The same layout as the window system's pixel view,
// kept separate so that the outputs need nothing from the window system.
#pragma once

#include <stdint.h>

struct FrameView {
  const uint32_t* pixels;
  int width;
  int height;
  int stride;
};
