// wmemset for the WebAssembly build, in 128-bit vector stores. The raster fills every
// long run of one pixel with wmemset (a background is a whole surface of them each
// frame); Emscripten's C library stores one wchar_t at a time, where the native C
// library's is vectorised, and that alone made the effects' frames half again as slow
// in a browser. Linked into libvisplatform, this definition stands in for the C
// library's (a static link takes the first definition it meets). Compiled without
// builtins, so the compiler cannot turn the tail loop back into a call to wmemset.
#include <stddef.h>
#include <wasm_simd128.h>  // wasm_i32x4_splat, wasm_v128_store
#include <wchar.h>

extern "C" wchar_t* wmemset(wchar_t* destination, wchar_t value, size_t count) {
  wchar_t* p = destination;
  const v128_t four = wasm_i32x4_splat((int32_t)value);
  for (; count >= 16; count -= 16, p += 16) {
    wasm_v128_store(p, four);
    wasm_v128_store(p + 4, four);
    wasm_v128_store(p + 8, four);
    wasm_v128_store(p + 12, four);
  }
  for (; count >= 4; count -= 4, p += 4) wasm_v128_store(p, four);
  for (; count > 0; --count) *p++ = value;
  return destination;
}
