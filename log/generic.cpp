// The client's path helpers: directory creation with parents, and the real
// user's name and home directory from the password database.
#include "kel/generic.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kel/log.h"

namespace kel::generic {
namespace {

constexpr const char kSource[] = "generic";

bool exists(const char *path) {
  struct stat st;
  return stat(path, &st) == 0;
}

// 0 when the path exists (whatever its kind) or was created with 0755.
uint32_t generic_make_dir(const char *path) {
  if (exists(path)) return KEL_ERROR_NOERROR;
  // Another process may have made it meanwhile: that counts as made.
  if (mkdir(path, 0755) == 0 || errno == EEXIST) return KEL_ERROR_NOERROR;
  LOG_printf(LOG_LEVEL_ERROR, kSource, "generic_make_dir", __LINE__, "Failed to create directory '%s'.\r\n", path);
  return KEL_ERROR_FAILED;
}

// Makes every directory before each '/' of path, from the top down; empty
// components (a leading or doubled '/') are skipped. With withLast the full
// path is made too.
uint32_t make_path(const char *function, const char *path, bool withLast) {
  if (path == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, function, __LINE__, "Path is NULL!\r\n");
    return KEL_ERROR_FAILED;
  }
  if (exists(path)) return KEL_ERROR_NOERROR;

  char *copy = strdup(path);
  if (copy == nullptr) {
    LOG_printf(LOG_LEVEL_ERROR, kSource, function, __LINE__, "Failed to allocate memory!\r\n");
    return KEL_ERROR_NOMEMORY;
  }
  uint32_t rc = KEL_ERROR_NOERROR;
  for (char *at = copy; rc == KEL_ERROR_NOERROR;) {
    char *slash = std::strchr(at, '/');
    if (slash == nullptr) break;
    if (slash != at) {
      *slash = '\0';
      rc = generic_make_dir(copy);
      *slash = '/';
    }
    at = slash + 1;
  }
  if (rc == KEL_ERROR_NOERROR && withLast) rc = generic_make_dir(copy);
  std::free(copy);
  return rc;
}

const struct passwd *real_user() { return getpwuid(getuid()); }

}  // namespace
}  // namespace kel::generic

extern "C" uint32_t GENERIC_make_path(const char *path) {
  return kel::generic::make_path("GENERIC_make_path", path, true);
}

extern "C" uint32_t GENERIC_make_intermediate_path(const char *path) {
  return kel::generic::make_path("GENERIC_make_intermediate_path", path, false);
}

extern "C" char *GENERIC_get_home_dir(void) {
  const struct passwd *pw = kel::generic::real_user();
  return pw != nullptr ? pw->pw_dir : nullptr;
}

extern "C" char *GENERIC_get_user_name(void) {
  const struct passwd *pw = kel::generic::real_user();
  return pw != nullptr ? pw->pw_name : nullptr;
}
