// Toolkit start and stop, its process-wide globals, the log hook and the
// whole-file utilities.
#include <cstdint>
#include <cstdio>

#include "kel/base64.h"
#include "kel/debug_console.h"
#include "kel/os.h"
#include "kel/random.h"
#include "kel/sockets.h"
#include "kel/vor.h"
#include "kel/vorane.h"

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kNullPointer = -6001;
constexpr int32_t kNoMemory = -6101;

// Calls to VORANE_initVorane so far: only the one that makes it 1 works, and
// it is never decremented, so a stopped toolkit is not started again.
int32_t gToolkitInitCount = 0;

int32_t read_file(const char *path, uint8_t **data, uint32_t *length) {
  if (data == nullptr || length == nullptr) return kNullPointer;
  *data = nullptr;
  *length = 0;
  FILE *f = path != nullptr ? std::fopen(path, "rb") : nullptr;
  if (f == nullptr) return ERR_FILE_OPEN;
  int32_t st = kOk;
  void *block = nullptr;
  uint32_t size = 0;
  if (std::fseek(f, 0, SEEK_END) != 0) st = ERR_FILE_OPEN;
  if (st == kOk) {
    const long end = std::ftell(f);
    size = end > 0 ? static_cast<uint32_t>(end) : 0;  // the low 32 bits of the position
    if (size == 0) st = ERR_FILE_OPEN;
  }
  if (st == kOk && (size == UINT32_MAX || VOR_alloc(size + 1, &block) != kOk)) st = kNoMemory;
  if (st == kOk) {
    std::rewind(f);
    if (std::fread(block, 1, size, f) != size) {
      VOR_free(&block);
      st = ERR_FILE_SHORT_READ;
    }
  }
  std::fclose(f);
  if (st != kOk) return st;
  *data = static_cast<uint8_t *>(block);
  *length = size;
  return kOk;
}

int32_t free_read_file(uint8_t **data) {
  if (data != nullptr && *data != nullptr) {
    void *block = *data;
    VOR_free(&block);
    *data = nullptr;
  }
  return kOk;
}

int32_t write_file(const char *path, const uint8_t *data, uint32_t length) {
  FILE *f = path != nullptr ? std::fopen(path, "wb") : nullptr;
  if (f == nullptr) return ERR_FILE_OPEN;
  const size_t written = length == 0 ? 0 : std::fwrite(data, 1, length, f);
  // A full disk may only show when the buffer is flushed.
  const bool closed = std::fclose(f) == 0;
  return written == length && closed ? kOk : ERR_FILE_SHORT_WRITE;
}

}  // namespace

int32_t gVoraneAppsRunning = 0;
RandomContext *g_pRandomContext = nullptr;
VoraneLogFn g_logFn = nullptr;

int32_t VORANE_initVorane(void) {
  if (++gToolkitInitCount != 1) return kOk;
  if (int32_t st = LINUX_rtosInit(); st < 0) return st;
  if (int32_t st = LINUX_TCP_init(); st < 0) return st;
  LINUX_deltaMS(nullptr, &gStartTime);
  if (int32_t st = LINUX_UDP_init(); st < 0) return st;
  DEBUG_CONSOLE_init();
  if (int32_t st = BASE64_initializeContext(); st < 0) return st;
  return RANDOM_acquireContext(&g_pRandomContext);
}

int32_t VORANE_freeVorane(void) {
  if (g_pRandomContext != nullptr) RANDOM_releaseContext(&g_pRandomContext);
  BASE64_freeContext();
  LINUX_UDP_shutdown();
  LINUX_TCP_shutdown();
  LINUX_rtosShutdown();
  DEBUG_CONSOLE_stop();
  return kOk;
}

int32_t VORANE_addEntropyBit(uint8_t entropyBit) { return RANDOM_addEntropyBit(g_pRandomContext, entropyBit); }

int32_t VORANE_addEntropy32Bits(uint32_t entropyBits) {
  int32_t st = kOk;
  for (int i = 0; i < 32; ++i) {
    st = RANDOM_addEntropyBit(g_pRandomContext, static_cast<uint8_t>((entropyBits >> i) & 1));
    if (st < 0) return st;
  }
  return st;
}

int32_t VORANE_initLog(VoraneLogFn logFn) {
  g_logFn = logFn;
  VORANE_log(0, 3, "NOT A PRODUCTION BUILD: VORANE DEBUG CONSOLE HAS BEEN ENABLED.");
  return kOk;
}

void VORANE_log(uint32_t module, uint32_t severity, const char *message) {
  VoraneLogFn fn = g_logFn;
  if (fn != nullptr && message != nullptr) fn(module, severity, message);
}

int32_t UTILS_readFile(const char *path, uint8_t **data, uint32_t *length) { return read_file(path, data, length); }
int32_t UTILS_freeReadFile(uint8_t **data) { return free_read_file(data); }
int32_t UTILS_writeFile(const char *path, const uint8_t *data, uint32_t length) {
  return write_file(path, data, length);
}
int32_t VORANE_readFile(const char *path, uint8_t **data, uint32_t *length) { return read_file(path, data, length); }
int32_t VORANE_freeReadFile(uint8_t **data) { return free_read_file(data); }
int32_t VORANE_writeFile(const char *path, const uint8_t *data, uint32_t length) {
  return write_file(path, data, length);
}
