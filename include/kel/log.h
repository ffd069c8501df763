/* The client's log engine: one per process, time-stamped lines to the
 * system log, standard output and a rotating per-application file; the
 * client error codes and their names; the per-user last-error cache; the
 * bridge that turns toolkit debug-console text into DEBUG lines. */
#ifndef KEL_LOG_H
#define KEL_LOG_H

#include <stdint.h>

#include "kel/debug_console.h"
#include "kel/export.h"

KEL_BEGIN_DECLS

/* Severities: a line of severity s is printed when s < the print threshold. */
typedef uint32_t LogSeverity;
#define LOG_LEVEL_ERROR 0u
#define LOG_LEVEL_WARN 1u
#define LOG_LEVEL_INFO 2u
#define LOG_LEVEL_DEBUG 3u
#define LOG_LEVEL_TRACE 4u

/* Applications: each has its own name and log file. */
typedef uint32_t LogApp;
#define LOG_APP_KEL 0u
#define LOG_APP_VPN 1u
#define LOG_APP_BSEC 2u
#define LOG_APP_PAM 3u
#define LOG_APP_VPN_PLUGIN 4u
#define LOG_APP_CLI 5u
#define LOG_APP_MAX 6u

/* Output mask bits. */
#define LOG_OPTION_SYSLOG 1u
#define LOG_OPTION_STDOUT 2u
#define LOG_OPTION_FILE 4u

#define LOG_MAGIC_VALUE 0x30437583u

/* Client error codes. */
typedef enum KelError {
  KEL_ERROR_NOERROR = 0,
  KEL_ERROR_FAILED = 1,
  KEL_ERROR_ALREADY = 2,
  KEL_ERROR_UNSUPPORTED = 3,
  KEL_ERROR_TERMINATED = 4,
  KEL_ERROR_OSERROR = 5,
  KEL_ERROR_BADARG = 6,
  KEL_ERROR_BADID = 7,
  KEL_ERROR_BADCONTEXT = 8,
  KEL_ERROR_INCONSISTENT = 9,
  KEL_ERROR_BUFFERTOOSMALL = 10,
  KEL_ERROR_BUFFERTOOBIG = 11,
  KEL_ERROR_INTERRUPTED = 12,
  KEL_ERROR_TIMEOUT = 13,
  KEL_ERROR_IO = 14,
  KEL_ERROR_NOMEMORY = 15,
  KEL_ERROR_NORESOURCE = 16,
  KEL_ERROR_RESOURCEINUSE = 17,
  KEL_ERROR_NODEVICEFOUND = 18,
  KEL_ERROR_NOMORE = 19,
  KEL_ERROR_NOSUCHOBJECT = 20,
  KEL_ERROR_DUPOBJECT = 21,
  KEL_ERROR_NOACCESS = 22,
  KEL_ERROR_READONLY = 23,
  KEL_ERROR_NOTCONNECTED = 24,
  KEL_ERROR_CONNREFUSED = 25,
  KEL_ERROR_CONNRESET = 26,
  KEL_ERROR_READONLYFS = 27,
  KEL_ERROR_FILENOTFOUND = 28,
  KEL_ERROR_PROTOCOL_ERROR = 29,
  KEL_ERROR_NACK = 30,
  KEL_ERROR_KERNEL_MODULE = 31,
  KEL_ERROR_NOT_ASSOCIATED = 32,
  KEL_ERROR_BAD_MAC_ADDRESS = 33,
  KEL_ERROR_TUN_DEVICE_OPEN_FAILED = 34,
  KEL_ERROR_TUN_IFACE_CREATE_FAILED = 35,
  KEL_ERROR_SOCKET_CREATE_FAILED = 36,
  KEL_ERROR_IFACE_SET_ADDR_FAILED = 37,
  KEL_ERROR_IFACE_SET_MTU_FAILED = 38,
  KEL_ERROR_IFACE_GET_FLAGS_FAILED = 39,
  KEL_ERROR_IFACE_SET_FLAGS_FAILED = 40,
  KEL_ERROR_PEER_FAILED_VERIFICATION = 41,
  KEL_ERROR_BAD_CERTIFICATE = 42,
  KEL_ERROR_PROXY_AUTH_FAILED = 43,
  KEL_ERROR_PKCS12_INCORRECT_PASSWORD = 44,
  KEL_ERROR_CERT_STORAGE_INCORRECT_PASSWORD = 45,
  KEL_ERROR_CANCELED = 46,
  KEL_ERROR_NO_PASSWORD = 47,
  KEL_ERROR_CERTIFICATE_VALIDATION_FAILED = 48,
  KEL_ERROR_NO_PROFILE_LOADED = 49,
  KEL_ERROR_MAX = 50
} KelError;

KEL_API uint32_t LOG_init(LogApp app, LogVoraneCallback callback, const char *directory);
KEL_API void LOG_deinit(void);
KEL_API void LOG_printf(LogSeverity level, const char *file, const char *function, uint32_t line,
                        const char *format, ...) KEL_PRINTF(5, 6);
KEL_API void LOG_dump_bytes(LogSeverity level, const char *file, const char *function, uint32_t line,
                            const void *bytes, int32_t count);
KEL_API void LOG_set_print_level(uint32_t level);
KEL_API void LOG_set_option(uint32_t mask);

KEL_API const char *LOG_error_str(uint32_t code);

KEL_API void LOG_cache_error_string(const char *text);
KEL_API void LOG_cache_reset(void);
/* Newly allocated (free() it) cache content less its last character, or NULL. */
KEL_API char *LOG_cache_dump(void);

/* Debug-console sink: pass it to LOG_init to receive toolkit text as DEBUG lines. */
KEL_API void LOG_from_vorane(const char *text);

KEL_END_DECLS

#endif /* KEL_LOG_H */
