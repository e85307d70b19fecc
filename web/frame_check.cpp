// The effects' frame hashes in the browser: the page's test loads check.html, which
// runs this program's checkFrameHashes() for each effect and shows what it found. The
// run itself is the one every build's tests make (tests/kit/frame_hash_run.h).
#include <emscripten/emscripten.h>  // EMSCRIPTEN_KEEPALIVE: the functions check.html calls

#include <string>

#include "frame_hash_run.h"

namespace {
std::string row;
}

extern "C" {

EMSCRIPTEN_KEEPALIVE int checkEffectCount() { return FRAME_HASH_EFFECTS; }
EMSCRIPTEN_KEEPALIVE const char* checkEffectName(int effect) {
  return effect >= 0 && effect < FRAME_HASH_EFFECTS ? kFrameHashExpected[effect].name : "";
}

// Runs one effect: the first frame whose hash differs, -1 when none does, -2 when
// there were no pixels; checkRow() then holds the hashes this build computed.
EMSCRIPTEN_KEEPALIVE int checkFrameHashes(int effect) {
  if (effect < 0 || effect >= FRAME_HASH_EFFECTS) return -2;
  uint64_t computed[FRAME_HASH_CHECKPOINTS] = {};
  const int result = runFrameHashes(effect, computed);
  char line[512];
  formatFrameHashRow(effect, computed, line, sizeof line);
  row = line;
  return result;
}
EMSCRIPTEN_KEEPALIVE const char* checkRow() { return row.c_str(); }

}  // extern "C"
