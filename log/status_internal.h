// The status file's path, reachable from tests and fuzzers.
#pragma once

#include <cstddef>

namespace kel::status {

inline constexpr const char *kStatusDir = "/usr/share/kel/status/";
// The whole path, terminator excluded.
inline constexpr size_t kMaxStatusPath = 255;

// "/usr/share/kel/status/" + name into path; false for a null name or a path
// longer than kMaxStatusPath (path then holds a cut copy: do not use it).
bool status_path(const char *name, char (&path)[kMaxStatusPath + 1]);

}  // namespace kel::status
