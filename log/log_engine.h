// The log engine's one global record. Internal: the library exports only the
// LOG_ functions; tests and the archive code read the record through this
// header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kel/log.h"
#include "kel/os.h"

namespace kel::log {

struct LogEngine {
  uint32_t magic;           // LOG_MAGIC_VALUE once LOG_init has run
  uint32_t option;          // output mask, LOG_OPTION_*
  uint32_t app;             // application index, always below LOG_APP_MAX
  char timeText[32];        // time stamp of the line being built
  char lineBuffer[1024];    // header followed by the message
  MutexHandle printMutex;   // serialises LOG_printf
  char toolkitLine[1024];   // toolkit text not yet forming a whole line
  MutexHandle bridgeMutex;  // serialises LOG_from_vorane; taken before printMutex
  uint32_t printThreshold;  // a line of severity s is printed when s < printThreshold
  char *fileName;           // log file path (malloc), or null
  char *fileNameOld;        // rotated file path (malloc), or null
};

// Zero-initialised: no constructor runs at load time.
extern LogEngine logEngine;

// Rotate when the file has reached this size: one old generation only.
inline constexpr long kRotateBytes = 1024000;  // 0xFA000, not 1 MiB

// The engine's source-file name in its own reports.
inline constexpr const char kEngineSource[] = "log";

}  // namespace kel::log
