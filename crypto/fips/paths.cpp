// Paths of the integrity check's files. The check itself and the
// forced-failure switch live in the toolkit library "libtvcrypto.so"; this
// library only finds the files beside it.
#include <dlfcn.h>

#include <cstring>

#include "kel/fips.h"

namespace {

constexpr char kLibraryName[] = "libtvcrypto.so";
constexpr size_t kMaxPath = 260;  // the caller's buffer holds at least 262 bytes

// Copies the file name of the object that holds addr; false when the loader
// cannot name one.
bool object_path(const void *addr, char *path) {
  Dl_info info;
  if (addr == nullptr || dladdr(addr, &info) == 0 || info.dli_fname == nullptr) return false;
  std::strncpy(path, info.dli_fname, kMaxPath);
  path[kMaxPath] = '\0';
  return true;
}

// The file beside the toolkit library: the path cut at its name, then
// suffix; 2 when the path does not name the toolkit library.
int sibling_path(char *path, const char *suffix) {
  if (path == nullptr) return 0;
  // The address as the dynamic linker resolved it for this library (through
  // the GOT), so an interposed toolkit library is the one that is named.
  const void *selfTest = reinterpret_cast<const void *>(&FIPS_powerupSelfTest);
  if (!object_path(selfTest, path)) return -1;
  char *at = std::strstr(path, kLibraryName);
  if (at == nullptr) return 2;
  // "libtvcrypto.sig" is one byte longer than "libtvcrypto.so": 261 bytes at
  // most, with the terminator 262.
  std::strcpy(at, suffix);
  return 0;
}

}  // namespace

int getLibFilePath(char *path) {
  if (path == nullptr) return 0;
  // Looked up at run time: NetworkManager loads this library into hosts
  // that do not have the toolkit library, and a strong reference would make
  // that load fail.
  if (!object_path(dlsym(RTLD_DEFAULT, "FIPS_SetForceFailFromFile"), path)) return -1;
  return std::strstr(path, kLibraryName) != nullptr ? 0 : 2;
}

int getHashFilePath(char *path) { return sibling_path(path, "libtvcrypto.sig"); }

int getFFPath(char *path) { return sibling_path(path, "libtvcrypto.fft"); }
