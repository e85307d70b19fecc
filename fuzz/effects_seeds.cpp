// Seeds for effects_fuzz: for each module a run of loud, silent and uneven frames with
// the channel counts hosts send and the extreme ones, resizes from nothing to the
// largest surface, a frame moved to the edges of the coordinate range, every host
// command, keys, repaints and module switches. Usage: effects_seeds OUTPUT_FOLDER.
#include <stdint.h>

#include <string>

#include "fuzz_input.h"

namespace {

enum Action { kFrames, kResize, kMove, kSwitch, kCommand, kKey, kRepaint, kRestart };

// A frame action: channel count, then a constant level (mode 0) or a ramp (mode 2).
void level(FuzzOutput& o, int32_t channels, uint8_t value, uint8_t frames) {
  o.u8(kFrames).i32(channels).u8(0).u8(value).u8(frames - 1);
}
void ramp(FuzzOutput& o, int32_t channels, uint8_t start, uint8_t step, uint8_t frames) {
  o.u8(kFrames).i32(channels).u8(2).u8(start).u8(step).u8(frames - 1);
}
// A side as effects_fuzz reads it: a value without the top three bits all set is taken
// modulo 1025, one with them modulo 8193; larger sides need the latter.
uint16_t side(uint16_t pixels) {
  if (pixels <= 1024) return pixels;
  uint32_t v = 0xE000;
  while (v % 8193 != pixels) ++v;
  return static_cast<uint16_t>(v);
}
void resize(FuzzOutput& o, uint16_t width, uint16_t height) {
  o.u8(kResize).u16(side(width)).u16(side(height));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: effects_seeds OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = true;
  const int32_t channels[] = {1, 2, 0, -1, 3, INT32_MIN, INT32_MAX};
  for (uint8_t module = 0; module < 4; ++module) {
    const std::string name = "module" + std::to_string(module);
    // Music: loud, silent, uneven, with each channel count.
    FuzzOutput music;
    music.u8(module);
    for (int32_t c : channels) {
      level(music, c, 255, 2);
      level(music, c, 0, 1);
      ramp(music, c, 0, 7, 3);
    }
    ok = music.save(dir, name + "-music") && ok;

    // Sizes: none, one pixel, odd, the default, wide, tall.
    FuzzOutput sizes;
    sizes.u8(module);
    const uint16_t sides[][2] = {{0, 0}, {1, 1}, {0, 480}, {640, 0}, {3, 997}, {640, 480}, {1920, 8}, {8, 1080}};
    for (const auto& s : sides) {
      resize(sizes, s[0], s[1]);
      ramp(sizes, 2, 200, 1, 2);
    }
    ok = sizes.save(dir, name + "-sizes") && ok;

    // The frame moved to the ends of the coordinate range and back, then a restart:
    // the saved corner is read again.
    FuzzOutput moves;
    moves.u8(module);
    const int32_t corners[][2] = {{INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN}, {INT32_MAX - 100, -5}, {50, 50}};
    for (const auto& c : corners) {
      moves.u8(kMove).i32(c[0]).i32(c[1]);
      level(moves, 2, 128, 1);
      moves.u8(kRestart).u8(module);
    }
    ok = moves.save(dir, name + "-moves") && ok;

    // Host commands, keys, repaints and a switch to the next module.
    FuzzOutput host;
    host.u8(module);
    for (uint16_t code = 0; code < 12; ++code) {
      host.u8(kCommand).u16(code).u8(code % 3).u16(code % 2 ? 0xFFFF : 1);
    }
    host.u8(kKey).u8(0).u32(0x41).u32(1).u8(kKey).u8(1).u32(0x41).u32(0xC0000001u);
    host.u8(kRepaint).u8(1);
    resize(host, 800, 600);
    host.u8(kRepaint).u8(0);
    host.u8(kSwitch).u8((module + 1) % 4);
    level(host, 2, 90, 2);
    ok = host.save(dir, name + "-host") && ok;
  }
  // One run on the largest surface.
  FuzzOutput largest;
  largest.u8(1);
  resize(largest, 8192, 8192);
  level(largest, 2, 255, 1);
  ok = largest.save(dir, "largest") && ok;
  return ok ? 0 : 1;
}
