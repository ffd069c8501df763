// Small helpers for the fuzz targets: reading fields off the input, and a
// check that stops the run with a message libFuzzer saves as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace kel::fuzz {

// Takes bytes off the front of the fuzzer's input; past the end it gives
// zeros and empty spans, so every input is a valid sequence of fields.
class Input {
 public:
  Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return size_ > 0 ? (--size_, *data_++) : 0; }
  uint32_t u16() { return static_cast<uint32_t>(byte()) << 8 | byte(); }
  // Up to n bytes (fewer at the end); *got receives how many.
  const uint8_t *take(size_t n, size_t *got) {
    *got = n < size_ ? n : size_;
    const uint8_t *p = data_;
    data_ += *got;
    size_ -= *got;
    return p;
  }
  size_t left() const { return size_; }

 private:
  const uint8_t *data_;
  size_t size_;
};

inline void check(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace kel::fuzz
