// The same pixels on every architecture and compiler: each effect renders 120 frames
// from a fixed seed (frame_hash_run.h), and a running hash of the surface after every
// frame must match frame_hashes.inc. That list was made on x86-64 and every build checks
// it: x86-64, the -m32 build, aarch64 under qemu and WebAssembly under node (and in a
// browser, web/frame_check.cpp). The effects truncate computed coordinates, so one
// last-bit difference in sin, cos or atan2, a fused multiply-add or an 80-bit
// intermediate shows up as a changed hash. On a mismatch the test prints the list this
// build computed.
#include <stdint.h>

#include <cstdio>
#include <string>

#include "frame_hash_run.h"
#include "module_fixture.h"

namespace {

using FrameHashes = modtest::EffectTest;

TEST_F(FrameHashes, EveryEffectDrawsTheSamePixelsAsOnX8664) {
  std::string computed;
  bool allSame = true;
  for (int effect = 0; effect < FRAME_HASH_EFFECTS; ++effect) {
    uint64_t hashes[FRAME_HASH_CHECKPOINTS] = {};
    const int firstDifferent = runFrameHashes(effect, hashes);
    ASSERT_NE(firstDifferent, -2) << kFrameHashExpected[effect].name << ": no pixels";
    char line[512];
    formatFrameHashRow(effect, hashes, line, sizeof line);
    computed += line;
    if (firstDifferent >= 0) {
      allSame = false;
      ADD_FAILURE() << kFrameHashExpected[effect].name << ": the surfaces differ by frame "
                    << firstDifferent;
    }
  }
  if (!allSame) std::printf("This build's frame hashes:\n%s", computed.c_str());
}

}  // namespace
