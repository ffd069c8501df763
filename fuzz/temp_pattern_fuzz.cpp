// Temporary file names from any pattern and number: a pattern other than
// one unsigned conversion gives null, never a read or write through a
// missing argument; an accepted one gives "/tmp/" and printf's own result,
// cut to the room the name has.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_util.h"
#include "kel/generic.h"

using kel::fuzz::check;

namespace {

// An independent reading of the rule: exactly one conversion, and it is one
// of u o x X after flags, width and precision.
bool OneUnsignedConversion(const std::string &p) {
  int count = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '%') continue;
    if (++i < p.size() && p[i] == '%') continue;
    i = p.find_first_not_of("-+ #0", i);
    if (i == std::string::npos) return false;
    i = p.find_first_not_of("0123456789", i);
    if (i != std::string::npos && p[i] == '.') i = p.find_first_not_of("0123456789", i + 1);
    if (i == std::string::npos || std::string("uoxX").find(p[i]) == std::string::npos) return false;
    ++count;
  }
  return count == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint32_t number = data[0] % 128;  // 100 and above are refused
  const std::string pattern(reinterpret_cast<const char *>(data + 1), strnlen(reinterpret_cast<const char *>(data + 1), size - 1));
  char *path = GENERIC_get_temp_file_path(pattern.c_str(), number);
  bool accepted = number <= 99 && OneUnsignedConversion(pattern);
  std::string expected(pattern.size() + 3, '\0');
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
  // A width printf cannot honour (past INT_MAX) gives no name either.
  if (accepted) accepted = std::snprintf(expected.data(), expected.size(), pattern.c_str(), number) >= 0;
#pragma clang diagnostic pop
  check((path != nullptr) == accepted, "accepted exactly the one-conversion patterns printf can format");
  if (path != nullptr) {
    check(std::string(path) == "/tmp/" + std::string(expected.c_str()), "the name printf gives, cut to its room");
    std::free(path);
  }
  return 0;
}
