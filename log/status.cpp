// Status files: one small text file per named status under the client's
// status directory, rewritten whole on every update.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kel/generic.h"
#include "kel/log.h"
#include "log/status_internal.h"

namespace kel::status {
namespace {

constexpr const char *kSource = "log";

uint32_t fail(const char *name, const char *text, int line) {
  LOG_printf(LOG_LEVEL_ERROR, kSource, "globalStatus", static_cast<uint32_t>(line),
             "Error writing status file %s, %s\r\n", name != nullptr ? name : "(null)",
             text != nullptr ? text : "(null)");
  return KEL_ERROR_IO;
}

}  // namespace
}  // namespace kel::status

bool kel::status::status_path(const char *name, char (&path)[kMaxStatusPath + 1]) {
  // A name that would not fit is refused rather than cut to another name.
  if (name == nullptr) return false;
  int n = std::snprintf(path, sizeof path, "%s%s", kStatusDir, name);
  return n >= 0 && static_cast<size_t>(n) <= kMaxStatusPath;
}

uint32_t globalStatus(const char *name, const char *text) {
  using namespace kel::status;
  char path[kMaxStatusPath + 1];
  if (name == nullptr || text == nullptr || !status_path(name, path)) return fail(name, text, __LINE__);

  if (uint32_t code = GENERIC_make_intermediate_path(path); code != KEL_ERROR_NOERROR)
    std::printf("LOG ERROR [%s():%s:%d] Failed to create path '%s' with %s.\n", __func__, kSource, __LINE__, path,
                LOG_error_str(code));

  FILE *f = std::fopen(path, "w");
  if (f == nullptr) return fail(name, text, __LINE__);
  LOG_printf(LOG_LEVEL_INFO, kSource, __func__, __LINE__, "Global status file %s,%s\r\n", name, text);
  bool written = std::fputs(text, f) >= 0;
  // A full file system shows up when the buffer is flushed at close.
  if (std::fclose(f) != 0) written = false;
  if (!written) return fail(name, text, __LINE__);
  return KEL_ERROR_NOERROR;
}
