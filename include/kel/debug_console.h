/* Debug console: class-filtered diagnostic printing of the toolkit. A piece
 * is printed only when every bit of its class is set in m_errorClass. */
#ifndef KEL_DEBUG_CONSOLE_H
#define KEL_DEBUG_CONSOLE_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

#define DEBUG_CONSOLE_ERR_OUTPUT_FILE (-14201)

/* Receives every piece of console text when registered. */
typedef void (*LogVoraneCallback)(const char *text);

KEL_API extern uint32_t m_errorClass;

KEL_API void DEBUG_CONSOLE_printf(const char *format, ...) KEL_PRINTF(1, 2);
KEL_API void DEBUG_CONSOLE_setLogVoraneCallback(LogVoraneCallback callback);
KEL_API int32_t DEBUG_CONSOLE_setOutput(const char *path);

KEL_API void DEBUG_CONSOLE_printString(uint32_t errorClass, const char *text);
KEL_API void DEBUG_CONSOLE_printNewLine(uint32_t errorClass, const char *text);
KEL_API void DEBUG_CONSOLE_printInteger(uint32_t errorClass, int32_t value);
KEL_API void DEBUG_CONSOLE_printInteger2(uint32_t errorClass, int32_t v1, int32_t v2);
KEL_API void DEBUG_CONSOLE_printInteger3(uint32_t errorClass, int32_t v1, int32_t v2, int32_t v3);
KEL_API void DEBUG_CONSOLE_printInteger4(uint32_t errorClass, int32_t v1, int32_t v2, int32_t v3, int32_t v4);
KEL_API void DEBUG_CONSOLE_printUnsignedInteger(uint32_t errorClass, uint32_t value);
KEL_API void DEBUG_CONSOLE_printUnsignedInteger2(uint32_t errorClass, uint32_t v1, uint32_t v2);
KEL_API void DEBUG_CONSOLE_printUnsignedInteger3(uint32_t errorClass, uint32_t v1, uint32_t v2, uint32_t v3);
KEL_API void DEBUG_CONSOLE_printUnsignedInteger4(uint32_t errorClass, uint32_t v1, uint32_t v2, uint32_t v3, uint32_t v4);
KEL_API void DEBUG_CONSOLE_hexByte(uint32_t errorClass, uint8_t value);
KEL_API void DEBUG_CONSOLE_hexInt(uint32_t errorClass, uint32_t value);
KEL_API void DEBUG_CONSOLE_printHexInt2(uint32_t errorClass, uint32_t v1, uint32_t v2);
KEL_API void DEBUG_CONSOLE_printHexInt3(uint32_t errorClass, uint32_t v1, uint32_t v2, uint32_t v3);
KEL_API void DEBUG_CONSOLE_printHexInt4(uint32_t errorClass, uint32_t v1, uint32_t v2, uint32_t v3, uint32_t v4);
KEL_API void DEBUG_CONSOLE_printByte(uint32_t errorClass, char value);
KEL_API void DEBUG_CONSOLE_printError(uint32_t errorClass, const char *text, int32_t value);
KEL_API void DEBUG_CONSOLE_print3(uint32_t errorClass, const char *s1, const char *s2, const char *s3);
KEL_API void DEBUG_CONSOLE_printString2(uint32_t errorClass, const char *s1, const char *s2);
KEL_API void DEBUG_CONSOLE_printString1Int1(uint32_t errorClass, const char *text, int32_t value);
KEL_API void DEBUG_CONSOLE_printString1HexInt1(uint32_t errorClass, const char *text, uint32_t value);
KEL_API void DEBUG_CONSOLE_printString2Int2(uint32_t errorClass, const char *s1, int32_t v1, const char *s2, int32_t v2);
KEL_API void DEBUG_CONSOLE_printString2HexInt2(uint32_t errorClass, const char *s1, uint32_t v1, const char *s2, uint32_t v2);
KEL_API void DEBUG_CONSOLE_printAsciiIPAddr(uint32_t errorClass, uint32_t address);
KEL_API void DEBUG_CONSOLE_printString1AsciiIPAddr(uint32_t errorClass, const char *text, uint32_t address);
/* Returns the offset after the last line (length rounded up to 16). */
KEL_API uint32_t DEBUG_CONSOLE_hexDump(uint32_t errorClass, const uint8_t *data, uint32_t length);
KEL_API void DEBUG_CONSOLE_dump_data(const void *data, uint32_t length, int32_t limit, uint32_t width, const char *title);

/* The console server: one thread that listens on a TCP port and, when a
 * console client connects, prints under class 0 "Vorane Debug Console
 * Activated", the up-time and a line end. The client receives nothing.
 * DEBUG_CONSOLE_init clears the stop request and DEBUG_CONSOLE_stop sets it;
 * both close a held console client and return 0. A waiting server sees a
 * stop within about a second and ends without a line.
 * DEBUG_CONSOLE_start returns 0 once the thread runs (a port that cannot be
 * bound is reported by the thread on standard output) or the thread-creation
 * status. */
KEL_API int32_t DEBUG_CONSOLE_init(void);
KEL_API int32_t DEBUG_CONSOLE_stop(void);
KEL_API int32_t DEBUG_CONSOLE_start(int32_t port);
/* Prints " (seconds.milliseconds)" since gStartTime, the milliseconds not
 * zero-filled: 12,005 ms is " (12.5)". */
KEL_API void DEBUG_CONSOLE_printUpTime(uint32_t errorClass);

KEL_END_DECLS

#endif /* KEL_DEBUG_CONSOLE_H */
