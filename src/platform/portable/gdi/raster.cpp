// Placeholder raster: draws nothing until the pixel engine lands.
#include "raster.h"

namespace vis {
void rasterFillRect(const RasterTarget&, RECT, uint32_t) {}
void rasterLine(const RasterTarget&, int, int, int, int, const RasterPen&) {}
void rasterEllipse(const RasterTarget&, int, int, int, int, const RasterPen&, const RasterBrush&) {}
void rasterRectangle(const RasterTarget&, int, int, int, int, const RasterPen&, const RasterBrush&) {}
void rasterPolygon(const RasterTarget&, const POINT*, int, const RasterPen&, const RasterBrush&) {}
void rasterCopy(const RasterTarget&, int, int, int, int, const RasterTarget&, int, int) {}
}  // namespace vis
