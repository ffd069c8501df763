// Base64: any text decodes without reading or writing out of bounds, and
// what decodes re-encodes to a text that decodes to the same bytes; any
// bytes encode and decode back.
#include <cstring>

#include "fuzz/fuzz_util.h"
#include "kel/base64.h"

using kel::fuzz::check;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  BASE64_initializeContext();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const auto length = static_cast<uint32_t>(size);
  uint8_t *decoded = nullptr, *text = nullptr, *again = nullptr;
  uint32_t decodedLength = 0, textLength = 0, againLength = 0;
  const int32_t s = BASE64_decodeMessage(data, length, &decoded, &decodedLength);
  check(s == 0 || s == ERR_BASE64_BAD_INPUT, "decode status");
  if (s == 0) {
    check(decodedLength <= size / 4 * 3, "decoded length");
    check(BASE64_encodeMessage(decoded, decodedLength, &text, &textLength) == 0, "re-encode");
    check(BASE64_decodeMessage(text, textLength, &again, &againLength) == 0, "decode the re-encoding");
    check(againLength == decodedLength && std::memcmp(again, decoded, decodedLength) == 0, "same bytes");
    BASE64_freeMessage(&text);
    BASE64_freeMessage(&again);
  }
  if (decoded != nullptr) BASE64_freeMessage(&decoded);

  if (size > 0) {
    check(BASE64_encodeMessage(data, length, &text, &textLength) == 0, "encode");
    check(textLength == (length + 2) / 3 * 4, "encoded length");
    check(BASE64_decodeMessage(text, textLength, &again, &againLength) == 0, "decode the encoding");
    check(againLength == length && std::memcmp(again, data, size) == 0, "round trip");
    BASE64_freeMessage(&text);
    BASE64_freeMessage(&again);
  }
  return 0;
}
