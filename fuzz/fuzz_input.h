// The byte format the fuzz targets read and their seed generators write: values taken
// front to back, little-endian, each read giving 0 once the input runs out, so every
// byte string is a valid input and a seed is a plain sequence of writes.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>  // abort
#include <string.h>

#include <string>
#include <vector>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
  uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  // Up to `limit` bytes: a length byte pair, then that many bytes (fewer at the end).
  std::string text(size_t limit) {
    size_t n = u16() % (limit + 1);
    if (n > size_ - at_) n = size_ - at_;
    std::string s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class FuzzOutput {
 public:
  FuzzOutput& u8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  FuzzOutput& u16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
  FuzzOutput& u32(uint32_t v) { return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16)); }
  FuzzOutput& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
  FuzzOutput& text(const std::string& s) {
    u16(static_cast<uint16_t>(s.size()));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  // Writes the seed to dir/name; false (with a message) when it cannot.
  bool save(const std::string& dir, const std::string& name) const {
    const std::string path = dir + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f && fwrite(bytes_.data(), 1, bytes_.size(), f) == bytes_.size();
    if (f) ok = fclose(f) == 0 && ok;
    if (!ok) fprintf(stderr, "seeds: cannot write %s\n", path.c_str());
    return ok;
  }

 private:
  std::vector<uint8_t> bytes_;
};

// A check that failed: the input is a finding. abort() makes libFuzzer save it.
#define FUZZ_CHECK(condition, ...)                                  \
  do {                                                              \
    if (!(condition)) {                                             \
      fprintf(stderr, "fuzz check failed: %s: ", #condition);       \
      fprintf(stderr, __VA_ARGS__);                                 \
      fputc('\n', stderr);                                          \
      abort();                                                      \
    }                                                               \
  } while (0)
