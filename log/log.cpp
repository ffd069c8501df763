// The client's log engine: one record per process, lines to the system log,
// standard output and a per-application file rotated to one "-old"
// generation; the client error names; the per-user last-error cache; the
// bridge that turns toolkit debug-console text into DEBUG lines.
//
// Locks: printMutex serialises everything from the time stamp to the last
// output (the cache and the rotation included); bridgeMutex guards the
// pending toolkit text and is always taken before printMutex, never after.
// The engine reports its own trouble with printf on standard output, never
// through itself.
#include "kel/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "kel/debug_console.h"
#include "kel/generic.h"
#include "kel/os.h"
#include "log/log_apps.h"
#include "log/log_engine.h"

namespace kel::log {

constinit LogEngine logEngine{};

namespace {

constexpr size_t kLineSize = sizeof(LogEngine::lineBuffer);
constexpr size_t kTimeSize = sizeof(LogEngine::timeText);
constexpr size_t kToolkitFlush = 1022;  // pending toolkit text written as a line at this length
constexpr size_t kCachePathSize = 260;
constexpr const char kDefaultDirectory[] = "/usr/share/kel/logs/";

constexpr const char *kSeverityNames[] = {"ERROR", "WARN", "INFO", "DEBUG", "TRACE"};
constexpr uint32_t kSeverityCount = sizeof kSeverityNames / sizeof kSeverityNames[0];

constexpr const char *kErrorNames[] = {
    "KEL_ERROR_NOERROR",
    "KEL_ERROR_FAILED",
    "KEL_ERROR_ALREADY",
    "KEL_ERROR_UNSUPPORTED",
    "KEL_ERROR_TERMINATED",
    "KEL_ERROR_OSERROR",
    "KEL_ERROR_BADARG",
    "KEL_ERROR_BADID",
    "KEL_ERROR_BADCONTEXT",
    "KEL_ERROR_INCONSISTENT",
    "KEL_ERROR_BUFFERTOOSMALL",
    "KEL_ERROR_BUFFERTOOBIG",
    "KEL_ERROR_INTERRUPTED",
    "KEL_ERROR_TIMEOUT",
    "KEL_ERROR_IO",
    "KEL_ERROR_NOMEMORY",
    "KEL_ERROR_NORESOURCE",
    "KEL_ERROR_RESOURCEINUSE",
    "KEL_ERROR_NODEVICEFOUND",
    "KEL_ERROR_NOMORE",
    "KEL_ERROR_NOSUCHOBJECT",
    "KEL_ERROR_DUPOBJECT",
    "KEL_ERROR_NOACCESS",
    "KEL_ERROR_READONLY",
    "KEL_ERROR_NOTCONNECTED",
    "KEL_ERROR_CONNREFUSED",
    "KEL_ERROR_CONNRESET",
    "KEL_ERROR_READONLYFS",
    "KEL_ERROR_FILENOTFOUND",
    "KEL_ERROR_PROTOCOL_ERROR",
    "KEL_ERROR_NACK",
    "KEL_ERROR_KERNEL_MODULE",
    "KEL_ERROR_NOT_ASSOCIATED",
    "KEL_ERROR_BAD_MAC_ADDRESS",
    "KEL_ERROR_TUN_DEVICE_OPEN_FAILED",
    "KEL_ERROR_TUN_IFACE_CREATE_FAILED",
    "KEL_ERROR_SOCKET_CREATE_FAILED",
    "KEL_ERROR_IFACE_SET_ADDR_FAILED",
    "KEL_ERROR_IFACE_SET_MTU_FAILED",
    "KEL_ERROR_IFACE_GET_FLAGS_FAILED",
    "KEL_ERROR_IFACE_SET_FLAGS_FAILED",
    "KEL_ERROR_PEER_FAILED_VERIFICATION",
    "KEL_ERROR_BAD_CERTIFICATE",
    "KEL_ERROR_PROXY_AUTH_FAILED",
    "KEL_ERROR_PKCS12_INCORRECT_PASSWORD",
    "KEL_ERROR_CERT_STORAGE_INCORRECT_PASSWORD",
    "KEL_ERROR_CANCELED",
    "KEL_ERROR_NO_PASSWORD",
    "KEL_ERROR_CERTIFICATE_VALIDATION_FAILED",
    "KEL_ERROR_NO_PROFILE_LOADED",
};
static_assert(sizeof kErrorNames / sizeof kErrorNames[0] == KEL_ERROR_MAX);

// option and printThreshold are single 32-bit values that the setters store
// without a lock; the first byte of toolkitLine is peeked at without the
// bridge lock. Relaxed atomics keep those accesses well defined.
uint32_t load_relaxed(uint32_t &v) { return std::atomic_ref<uint32_t>(v).load(std::memory_order_relaxed); }
void store_relaxed(uint32_t &v, uint32_t x) { std::atomic_ref<uint32_t>(v).store(x, std::memory_order_relaxed); }
char first_pending() { return std::atomic_ref<char>(logEngine.toolkitLine[0]).load(std::memory_order_relaxed); }
void set_first_pending(char c) { std::atomic_ref<char>(logEngine.toolkitLine[0]).store(c, std::memory_order_relaxed); }

const char *or_null(const char *text) { return text != nullptr ? text : "(null)"; }

// "LOG ERROR [function():log:line] what" on standard output.
void self_report(const char *function, int line, const char *what) {
  std::printf("LOG ERROR [%s():%s:%d] %s\n", function, kEngineSource, line, what);
}

void LOG_create_path(uint32_t app, const char *directory) {
  LogEngine &e = logEngine;
  // An empty directory counts as none: "%s/%s" would put the file in "/".
  const bool useCaller = app < LOG_APP_MAX && kApps[app].callerDirectory && directory != nullptr && directory[0] != '\0';
  const char *dir = useCaller ? directory : kDefaultDirectory;

  if (uint32_t rc = GENERIC_make_path(dir); rc != KEL_ERROR_NOERROR)
    std::printf("LOG ERROR [%s():%s:%d] Failed to create path '%s' with %s.\n", "LOG_create_path", kEngineSource,
                __LINE__, dir, LOG_error_str(rc));

  if (app >= LOG_APP_MAX) {
    std::printf("LOG ERROR [%s():%s:%d] incorrect log application index #%u.\n", "LOG_create_path", kEngineSource,
                __LINE__, app);
    std::printf("LOG: can`t initialize log path, fileName = %s, fileNameOld = %s \n", "(null)", "(null)");
    return;
  }

  const AppInfo &a = kApps[app];
  const size_t dirLength = std::strlen(dir);
  const size_t size = dirLength + std::strlen(a.file) + 2;
  const size_t sizeOld = dirLength + std::strlen(a.fileOld) + 2;
  e.fileName = static_cast<char *>(std::malloc(size));
  if (e.fileName != nullptr) e.fileNameOld = static_cast<char *>(std::malloc(sizeOld));
  if (e.fileName == nullptr || e.fileNameOld == nullptr) {
    // What was allocated stays and is freed by LOG_deinit; the file output
    // needs both names and stays off.
    self_report("LOG_create_path", __LINE__, "memory allocation failed");
    return;
  }
  std::memset(e.fileName, 0, size);
  std::memset(e.fileNameOld, 0, sizeOld);
  std::snprintf(e.fileName, size, "%s/%s", dir, a.file);
  std::snprintf(e.fileNameOld, sizeOld, "%s/%s", dir, a.fileOld);
}

void LOG_output_use_syslog(const char *line) { syslog(LOG_ERR, "%s", line); }

void LOG_output_use_stdout(const char *line) {
  std::fputs(line, stdout);
  std::fflush(stdout);
}

// Files the engine writes: appended to, never through a symbolic link (a
// link planted at the name would send the lines, or an emptied cache,
// somewhere else), and not inherited by programs that other threads start.
constexpr int kAppendFlags = O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC;
constexpr mode_t kLogFileMode = 0644;    // support reads the logs
constexpr mode_t kCacheFileMode = 0600;  // the user's own error messages

bool write_all(int fd, const char *data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

void LOG_output_use_file(const char *line) {
  const LogEngine &e = logEngine;
  if (e.fileName == nullptr || e.fileNameOld == nullptr) return;

  int fd = open(e.fileName, kAppendFlags, kLogFileMode);
  if (fd < 0) {
    int err = errno;
    std::printf("LOG ERROR [%s():%s:%d] Failed to open file '%s' with error %s.\n", "LOG_output_use_file",
                kEngineSource, __LINE__, e.fileName, std::strerror(err));
    return;
  }
  // A line that does not fit (full file system) is taken out again, so the
  // file never holds a torn line that the next one would be glued to.
  struct stat before;
  const bool sized = fstat(fd, &before) == 0;
  if (!write_all(fd, line, std::strlen(line))) {
    int err = errno;
    if (sized && ftruncate(fd, before.st_size) != 0) {
      // nothing more to do: the report below names the file
    }
    std::printf("LOG ERROR [%s():%s:%d] Failed to write file '%s' with error %s.\n", "LOG_output_use_file",
                kEngineSource, __LINE__, e.fileName, std::strerror(err));
  }
  struct stat st;
  const bool full = fstat(fd, &st) == 0 && st.st_size >= kRotateBytes;
  close(fd);
  // Rotate at 1,024,000 bytes: the full file replaces the previous rotated
  // one (one old generation only) and the next line starts a new file.
  if (full && rename(e.fileName, e.fileNameOld) != 0) {
    int err = errno;
    std::printf("LOG ERROR [%s():%s:%d] Failed to rotate '%s' with error %s.\n", "LOG_output_use_file",
                kEngineSource, __LINE__, e.fileName, std::strerror(err));
  }
}

// The outputs, always in this order: system log, standard output, file.
void LOG_output(const char *line) {
  const uint32_t option = load_relaxed(logEngine.option);
  if (option & LOG_OPTION_SYSLOG) LOG_output_use_syslog(line);
  if (option & LOG_OPTION_STDOUT) LOG_output_use_stdout(line);
  if (option & LOG_OPTION_FILE) LOG_output_use_file(line);
}

// "%b %d %T.mmm" of the wall clock into timeText; on a failed conversion the
// previous line's stamp stays.
void stamp_time(LogEngine &e) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  const time_t seconds = now.tv_sec;
  struct tm local;
  if (localtime_r(&seconds, &local) == nullptr) return;
  size_t n = std::strftime(e.timeText, kTimeSize, "%b %d %T", &local);
  if (n == 0) {
    self_report("LOG_printf", __LINE__, "time print failed");
    e.timeText[0] = '\0';
  } else if (n >= kTimeSize) {
    self_report("LOG_printf", __LINE__, "time buffer overflow");
    e.timeText[kTimeSize - 1] = '\0';
  } else if (n + 4 < kTimeSize) {
    std::snprintf(e.timeText + n, kTimeSize - n, ".%03lu", static_cast<unsigned long>(now.tv_usec / 1000));
  }
}

// A severity above TRACE: a notice of its own, sent whatever the threshold.
void send_wrong_severity_notice(const LogEngine &e, uint32_t level, const char *file, const char *function,
                                uint32_t line) {
  char notice[kLineSize];
  int n = std::snprintf(notice, sizeof notice, "%s [%s %s %s():%s:%d] Wrong log severity: %i\r\n", e.timeText,
                        kApps[e.app].name, kSeverityNames[LOG_LEVEL_ERROR], or_null(function), or_null(file),
                        static_cast<int>(line), static_cast<int>(level));
  if (n < 0) {
    self_report("LOG_printf", __LINE__, "error message print failed");
    notice[0] = '\0';
  } else if (static_cast<size_t>(n) >= sizeof notice) {
    self_report("LOG_printf", __LINE__, "log buffer overflow");
  }
  LOG_output(notice);
}

bool cache_path(char (&path)[kCachePathSize]) {
  const char *user = GENERIC_get_user_name();
  if (user == nullptr || std::strcmp(user, "root") == 0) return false;
  int n = std::snprintf(path, sizeof path, "/home/%s/.kel/last_error.log", user);
  return n > 0 && static_cast<size_t>(n) < sizeof path;  // never open a cut path
}

bool lock(MutexHandle m) { return m != nullptr && LINUX_mutexWait(m) == 0; }

}  // namespace
}  // namespace kel::log

using kel::log::LogEngine;
using kel::log::logEngine;

extern "C" uint32_t LOG_init(LogApp app, LogVoraneCallback callback, const char *directory) {
  using namespace kel::log;
  LogEngine &e = logEngine;
  const bool running = e.magic == LOG_MAGIC_VALUE;
  if (running)
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, "LOG_init", __LINE__,
               "Assertion \"LOG_MAGIC_VALUE != logEngine.magic\" failed\r\n");
  if (app >= LOG_APP_MAX)
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, "LOG_init", __LINE__, "Assertion \"LOG_APP_MAX > app\" failed\r\n");
  if (running) return KEL_ERROR_ALREADY;
  // The engine never holds an index outside the application table: refuse it
  // and stay uninitialised, so a later call with a valid index still works.
  if (app >= LOG_APP_MAX) return KEL_ERROR_BADARG;

  std::memset(&e, 0, sizeof e);
  e.app = app;
  e.magic = LOG_MAGIC_VALUE;
  e.printThreshold = LOG_LEVEL_TRACE + 1;
  e.option = LOG_OPTION_FILE;

  LOG_create_path(app, directory);

  // From here on the engine counts as initialised even if a mutex is missing:
  // it then prints nothing.
  if (LINUX_mutexCreate(&e.bridgeMutex, 0, 0) != 0) return KEL_ERROR_OSERROR;
  DEBUG_CONSOLE_setLogVoraneCallback(callback);
  if (LINUX_mutexCreate(&e.printMutex, 0, 0) != 0) return KEL_ERROR_OSERROR;
  return KEL_ERROR_NOERROR;
}

extern "C" void LOG_deinit(void) {
  using namespace kel::log;
  LogEngine &e = logEngine;
  if (e.magic != LOG_MAGIC_VALUE) {
    LOG_printf(LOG_LEVEL_ERROR, kEngineSource, "LOG_deinit", __LINE__,
               "Assertion \"LOG_MAGIC_VALUE == logEngine.magic\" failed\r\n");
  } else {
    if (e.bridgeMutex != nullptr) LINUX_mutexFree(&e.bridgeMutex);
    if (e.printMutex != nullptr) LINUX_mutexFree(&e.printMutex);
    e.bridgeMutex = nullptr;
    e.printMutex = nullptr;
  }
  // magic stays: the engine is initialised once per process.
  std::free(e.fileName);
  std::free(e.fileNameOld);
  e.fileName = nullptr;
  e.fileNameOld = nullptr;
}

extern "C" void LOG_printf(LogSeverity level, const char *file, const char *function, uint32_t line,
                           const char *format, ...) {
  using namespace kel::log;
  LogEngine &e = logEngine;
  if (e.magic != LOG_MAGIC_VALUE) return;
  if (!lock(e.printMutex)) return;

  if (e.app >= LOG_APP_MAX) {
    // Reported straight to standard output: going through LOG_printf would
    // only come back here.
    std::printf("LOG ERROR [%s():%s:%d] Assertion \"LOG_APP_MAX > logEngine.app\" failed\r\n", "LOG_printf",
                kEngineSource, __LINE__);
    LINUX_mutexRelease(e.printMutex);
    return;
  }

  e.lineBuffer[0] = '\0';
  stamp_time(e);

  if (level >= kSeverityCount) {
    send_wrong_severity_notice(e, level, file, function, line);
    level = LOG_LEVEL_ERROR;
  }

  if (level < load_relaxed(e.printThreshold)) {
    int n = std::snprintf(e.lineBuffer, kLineSize, "%s [%s %s %s():%s:%d] ", e.timeText, kApps[e.app].name,
                          kSeverityNames[level], or_null(function), or_null(file), static_cast<int>(line));
    if (n < 0) {
      self_report("LOG_printf", __LINE__, "message header print failed");
      e.lineBuffer[0] = '\0';
    } else if (static_cast<size_t>(n) >= kLineSize) {
      self_report("LOG_printf", __LINE__, "log buffer overflow");
      e.lineBuffer[kLineSize - 1] = '\0';
    }
    const size_t headerLength = std::strlen(e.lineBuffer);
    char *message = e.lineBuffer + headerLength;
    const size_t room = kLineSize - headerLength;

    if (format == nullptr) {
      self_report("LOG_printf", __LINE__, "message print failed");
      message[0] = '\0';
    } else {
      va_list args;
      va_start(args, format);
      int m = std::vsnprintf(message, room, format, args);
      va_end(args);
      if (m < 0) {
        self_report("LOG_printf", __LINE__, "message print failed");
        message[0] = '\0';
      } else if (static_cast<size_t>(m) >= room) {
        self_report("LOG_printf", __LINE__, "log buffer overflow");
      }
    }

    if (level <= LOG_LEVEL_WARN) {
      LOG_cache_error_string(e.timeText);
      LOG_cache_error_string(" ");
      LOG_cache_error_string(message);
    }
    LOG_output(e.lineBuffer);
  }

  LINUX_mutexRelease(e.printMutex);
}

extern "C" void LOG_dump_bytes(LogSeverity level, const char *file, const char *function, uint32_t line,
                               const void *bytes, int32_t count) {
  if (logEngine.magic != LOG_MAGIC_VALUE) return;
  LOG_printf(level, file, function, line, "====DUMP START (%d) ===\n", count);

  // Sixteen "xx " groups a line, four blanks between groups of four bytes.
  static constexpr char kHex[] = "0123456789abcdef";
  const auto *data = static_cast<const uint8_t *>(bytes);
  const int32_t total = data != nullptr ? count : 0;
  char text[1024 + 64];
  size_t length = 0;
  text[0] = '\0';
  for (int32_t i = 0; i < total && length < 1024; ++i) {
    text[length++] = kHex[data[i] >> 4];
    text[length++] = kHex[data[i] & 0x0f];
    text[length++] = ' ';
    const int32_t done = i + 1;
    if (done % 16 == 0) {
      text[length++] = '\n';
      text[length] = '\0';
      LOG_printf(level, file, function, line, "%s", text);
      length = 0;
    } else if (done % 4 == 0) {
      std::memcpy(text + length, "   ", 3);
      length += 3;
    }
    text[length] = '\0';
  }
  LOG_printf(level, file, function, line, "%s\n", text);
  LOG_printf(level, file, function, line, "==== DUMP END ===\n");
}

extern "C" void LOG_set_print_level(uint32_t level) {
  if (level <= LOG_LEVEL_TRACE) kel::log::store_relaxed(logEngine.printThreshold, level + 1);
}

extern "C" void LOG_set_option(uint32_t mask) {
  if (mask < 8) kel::log::store_relaxed(logEngine.option, mask);
}

extern "C" const char *LOG_error_str(uint32_t code) {
  using namespace kel::log;
  if (code < KEL_ERROR_MAX) return kErrorNames[code];
  LOG_printf(LOG_LEVEL_ERROR, kEngineSource, "LOG_error_str", __LINE__,
             "Assertion \"0 <= error && KEL_ERROR_MAX > error\" failed\r\n");
  return "wrong_error_code";
}

extern "C" void LOG_cache_error_string(const char *text) {
  using namespace kel::log;
  char path[kCachePathSize];
  if (text == nullptr || !cache_path(path)) return;
  int fd = open(path, kAppendFlags, kCacheFileMode);
  if (fd < 0) return;  // no ~/.kel: no cache
  write_all(fd, text, std::strlen(text));
  close(fd);
}

extern "C" void LOG_cache_reset(void) {
  using namespace kel::log;
  char path[kCachePathSize];
  if (!cache_path(path)) return;
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kCacheFileMode);
  if (fd >= 0) close(fd);
}

extern "C" char *LOG_cache_dump(void) {
  using namespace kel::log;
  char path[kCachePathSize];
  if (!cache_path(path)) return nullptr;
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  char *text = nullptr;
  size_t got = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 1) {
    const size_t size = static_cast<size_t>(st.st_size);
    text = static_cast<char *>(std::malloc(size + 1));
    while (text != nullptr && got < size) {
      ssize_t n = read(fd, text + got, size - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  }
  close(fd);
  if (got == 0) {  // empty, emptied since it was examined, or not readable
    std::free(text);
    return nullptr;
  }
  // The content less its last character, normally the last line feed. A
  // file that shrank meanwhile is cut at what was read.
  text[got - 1] = '\0';
  return text;
}

extern "C" void LOG_from_vorane(const char *text) {
  using namespace kel::log;
  LogEngine &e = logEngine;
  if (load_relaxed(e.printThreshold) <= LOG_LEVEL_DEBUG) {
    // DEBUG lines are not printed: drop the toolkit's text, pending included.
    if (first_pending() != '\0' && lock(e.bridgeMutex)) {
      set_first_pending('\0');
      LINUX_mutexRelease(e.bridgeMutex);
    }
    return;
  }
  if (text == nullptr || !lock(e.bridgeMutex)) return;

  size_t length = std::strlen(e.toolkitLine);
  auto write_pending = [&] {
    LOG_printf(LOG_LEVEL_DEBUG, kEngineSource, "LOG_from_vorane", __LINE__, "%s\r\n", e.toolkitLine);
    set_first_pending('\0');
    length = 0;
  };
  for (const char *p = text; *p != '\0'; ++p) {
    if (*p != '\n') {
      if (length == 0) {
        set_first_pending(*p);
      } else {
        e.toolkitLine[length] = *p;
      }
      e.toolkitLine[++length] = '\0';
      if (length >= kToolkitFlush) write_pending();
    } else {
      // The console ends its lines with "\r\n": the character before the
      // line feed is dropped.
      if (length > 0) {
        e.toolkitLine[--length] = '\0';
        if (length == 0) set_first_pending('\0');
      }
      write_pending();
    }
  }
  LINUX_mutexRelease(e.bridgeMutex);
}
