// The exported entry point, the plug-in header and the four module records.
#include "abi/vis_header.h"
#include "modules/modules.h"
#include "plugin/lifecycle.h"

namespace {

#define VIS_MODULE_RECORD(name, renderOperation)                                     \
  {name,    nullptr, nullptr, 0,  0,      25, 25, 2, 0, {}, {}, visConfig, visInit, \
   renderOperation, visQuit, nullptr}

VisModule modules[] = {
    VIS_MODULE_RECORD("Zarvenn", renderZarvenn),
    VIS_MODULE_RECORD("Pellox", renderPellox),
    VIS_MODULE_RECORD("Ambrith", renderAmbrith),
    VIS_MODULE_RECORD("Tovanel", renderTovanel),
};
#undef VIS_MODULE_RECORD

VisHeader header = {VIS_HEADER_VERSION, "Orlim's Visualizations Volume 1", lookupModule};

}  // namespace

VisModule* lookupModule(int index) {
  // Compared as unsigned, so negative indexes fall outside the table too.
  const unsigned count = sizeof modules / sizeof modules[0];
  return static_cast<unsigned>(index) < count ? &modules[index] : nullptr;
}

VIS_EXPORT VisHeader* winampVisGetHeader(void) { return &header; }
