/* Toolkit start and stop, the process-wide random context, the start time,
 * the log hook, the entropy entry points and the whole-file utilities.
 *
 * A program calls FIPS_powerupSelfTest (kel/fips.h) first, then
 * VORANE_initVorane: creating the random context is refused while the
 * power-up status is not 0. */
#ifndef KEL_VORANE_H
#define KEL_VORANE_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/random.h"

KEL_BEGIN_DECLS

#define ERR_FILE_OPEN (-7201)        /* cannot open the file, or (read) it is empty */
#define ERR_FILE_SHORT_READ (-7202)
#define ERR_FILE_SHORT_WRITE (-7204)

/* The log hook: module, severity, NUL-terminated message. */
typedef void (*VoraneLogFn)(uint32_t module, uint32_t severity, const char *message);

/* Free for the programs built on the toolkit; nothing in it reads it. */
KEL_API extern int32_t gVoraneAppsRunning;
/* The process-wide generator: created by VORANE_initVorane, released by
 * VORANE_freeVorane. */
KEL_API extern RandomContext *g_pRandomContext;
/* The hook VORANE_log calls; set by VORANE_initLog. */
KEL_API extern VoraneLogFn g_logFn;

/* VORANE_initVorane: only the first call works (later ones return 0, even
 * when the first failed): the OS layer, TCP, the start time (gStartTime),
 * UDP, the debug console, the Base64 tables, then g_pRandomContext (a
 * CTR-DRBG), whose status is the result. The first failing step's status
 * otherwise; the power-up status while the self-test has not passed. */
KEL_API int32_t VORANE_initVorane(void);
/* VORANE_freeVorane releases the random context and stops the Base64
 * tables, UDP, TCP, the OS layer and the debug console; always 0. A later
 * VORANE_initVorane does not start the toolkit again. */
KEL_API int32_t VORANE_freeVorane(void);

/* Feed g_pRandomContext: one bit (the lowest of the byte), or 32 bits least
 * significant first, up to the first failure. Random-context statuses;
 * -6001 without a context (after a passed self-test). */
KEL_API int32_t VORANE_addEntropyBit(uint8_t entropyBit);
KEL_API int32_t VORANE_addEntropy32Bits(uint32_t entropyBits);

/* VORANE_initLog stores the hook and logs through it (module 0, severity 3)
 * that the debug console is enabled; returns 0. VORANE_log calls the hook
 * when both it and message are non-null. */
KEL_API int32_t VORANE_initLog(VoraneLogFn logFn);
KEL_API void VORANE_log(uint32_t module, uint32_t severity, const char *message);

/* UTILS_readFile reads a whole file into a new block (one spare byte, not
 * written) that the caller releases with UTILS_freeReadFile. -6001 a null
 * out pointer; -7201 cannot open, or empty (*data stays NULL, *length 0);
 * -6101 no memory; -7202 short read. */
KEL_API int32_t UTILS_readFile(const char *path, uint8_t **data, uint32_t *length);
/* Frees *data when non-null and sets it to NULL; always 0. */
KEL_API int32_t UTILS_freeReadFile(uint8_t **data);
/* Creates or truncates path and writes length bytes: -7201 cannot open;
 * -7204 short write. */
KEL_API int32_t UTILS_writeFile(const char *path, const uint8_t *data, uint32_t length);

/* The same three under the toolkit's names. */
KEL_API int32_t VORANE_readFile(const char *path, uint8_t **data, uint32_t *length);
KEL_API int32_t VORANE_freeReadFile(uint8_t **data);
KEL_API int32_t VORANE_writeFile(const char *path, const uint8_t *data, uint32_t length);

KEL_END_DECLS

#endif /* KEL_VORANE_H */
