// kelctl log: starts the log engine for one application, writes a line of
// each severity, a hex dump and toolkit debug-console text (through the
// bridge), and says where the lines went.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/debug_console.h"
#include "kel/log.h"
#include "kelctl/commands.h"
#include "kelctl/util.h"
#include "log/log_apps.h"

namespace kelctl {
namespace {

constexpr const char kSource[] = "log_command";

#define KEL_FIXED_LOG_DIRECTORY "/usr/share/kel/logs/"
constexpr const char kFixedDirectory[] = KEL_FIXED_LOG_DIRECTORY;
constexpr char kUsage[] =
    "usage: kelctl log [--app N] [--dir DIR] [--stdout]\n"
    "\n"
    "Starts the log engine for application N, writes one line of each severity,\n"
    "a hex dump and toolkit debug-console text (as DEBUG lines through the\n"
    "bridge), then prints the log file's path and size.\n"
    "\n"
    "  --app N    application index, default 0:\n"
    "             0 KEL, 1 VPN, 2 BSEC, 3 PAM, 4 VPN_PLUGIN, 5 CLI\n"
    "  --dir DIR  log directory for applications 0 and 5 (created if missing;\n"
    "             default " KEL_FIXED_LOG_DIRECTORY "); the others always log there\n"
    "  --stdout   write the lines to standard output as well\n"
    "\n"
    "The ERROR and WARN lines also reach the last-error cache of an ordinary\n"
    "user (/home/USER/.kel/last_error.log) when its directory exists.\n"
    "\n"
    "exit codes: 0 lines written, 1 no log file was written, 2 bad usage\n";

long SizeOf(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void WriteSamples() {
  static const char *const kNames[] = {"ERROR", "WARN", "INFO", "DEBUG", "TRACE"};
  for (uint32_t level = LOG_LEVEL_ERROR; level <= LOG_LEVEL_TRACE; ++level)
    LOG_printf(level, kSource, __func__, __LINE__, "kelctl sample line at severity %s\r\n", kNames[level]);
  LOG_printf(LOG_LEVEL_INFO, kSource, __func__, __LINE__, "client error %u is %s\r\n",
             static_cast<unsigned>(KEL_ERROR_NOMEMORY), LOG_error_str(KEL_ERROR_NOMEMORY));

  uint8_t bytes[20];
  for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(i * 17 + 3);
  LOG_dump_bytes(LOG_LEVEL_INFO, kSource, __func__, __LINE__, bytes, static_cast<int32_t>(sizeof bytes));

  // Toolkit text, one character at a time into LOG_from_vorane.
  DEBUG_CONSOLE_printNewLine(0, "toolkit debug console text through the log bridge");
  DEBUG_CONSOLE_printString1Int1(0, "toolkit value ", 2026);
  DEBUG_CONSOLE_printNewLine(0, nullptr);
  DEBUG_CONSOLE_hexDump(0, bytes, sizeof bytes);
}

}  // namespace

int RunLog(int argc, char **argv) {
  uint32_t app = LOG_APP_KEL;
  const char *dir = nullptr;
  bool toStdout = false;
  enum { kApp, kDir, kStdout };
  static constexpr Option kOptions[] = {{"--app", nullptr, true}, {"--dir", nullptr, true}, {"--stdout", nullptr, false}};
  Args args("log", kUsage, argc, argv, kOptions);
  while (args.Next()) {
    long n = 0;
    switch (args.id) {
      case kApp:
        if (!args.Number(0, LOG_APP_MAX - 1, &n)) return args.exit;
        app = static_cast<uint32_t>(n);
        break;
      case kDir:
        if (args.value[0] == '\0') return args.Fail("--dir needs a directory");
        dir = args.value;
        break;
      case kStdout: toStdout = true; break;
      default: return args.Fail("unexpected argument '%s'", args.value);
    }
  }
  if (args.exit >= 0) return args.exit;

  const kel::log::AppInfo &a = kel::log::kApps[app];
  const char *logDir = (a.callerDirectory && dir != nullptr) ? dir : kFixedDirectory;
  if (dir != nullptr && !a.callerDirectory)
    std::fprintf(stderr, "kelctl log: application %u (%s) ignores --dir and logs to %s\n", app, a.name,
                 kFixedDirectory);
  char path[4096], pathOld[4096];
  if (std::snprintf(path, sizeof path, "%s/%s", logDir, a.file) >= static_cast<int>(sizeof path) ||
      std::snprintf(pathOld, sizeof pathOld, "%s/%s", logDir, a.fileOld) >= static_cast<int>(sizeof pathOld)) {
    std::fprintf(stderr, "kelctl log: directory name too long\n");
    return kExitUsage;
  }
  const long before = SizeOf(path) < 0 ? 0 : SizeOf(path);
  const long beforeOld = SizeOf(pathOld);

  uint32_t rc = LOG_init(app, LOG_from_vorane, dir);
  if (rc != KEL_ERROR_NOERROR) {
    std::fprintf(stderr, "kelctl log: the log engine did not start: %s\n", LOG_error_str(rc));
    return kExitFailed;
  }
  LOG_set_option(LOG_OPTION_FILE | (toStdout ? LOG_OPTION_STDOUT : 0));
  LOG_set_print_level(LOG_LEVEL_TRACE);
  WriteSamples();
  LOG_deinit();
  DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
  std::fflush(stdout);

  const long size = SizeOf(path);
  const long sizeOld = SizeOf(pathOld);
  if ((size < 0 && sizeOld < 0) || (size == before && sizeOld == beforeOld)) {
    std::fprintf(stderr, "kelctl log: no line reached the log file %s\n", path);
    return kExitFailed;
  }
  std::printf("application: %u (%s)\n", app, a.name);
  if (size >= 0) {
    // A file that rotated during the run starts again from zero.
    const long added = size >= before ? size - before : size;
    std::printf("log file: %s (%ld bytes, %ld written now)\n", path, size, added);
  } else {
    std::printf("log file: %s (rotated away just now)\n", path);
  }
  if (sizeOld >= 0) std::printf("rotated file: %s (%ld bytes)\n", pathOld, sizeOld);
  if (toStdout) std::printf("standard output: the same lines, above\n");
  return kExitOk;
}

}  // namespace kelctl
