/* Portable memory, string and number utilities of the toolkit. Status
 * results are signed 32-bit: 0 on success, negative on failure. */
#ifndef KEL_VOR_H
#define KEL_VOR_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

#define ERR_NULL_POINTER (-6001)
#define ERR_MEM_ALLOC_FAIL (-6101)
#define ERR_MEM_ALLOC_PTR (-6102)
#define ERR_MEM_ALLOC_FAILED (-6103)
#define ERR_MEM_FREE_PTR (-6104)

/* VOR_MALLOC refuses requests of this many bytes or more. */
#define VOR_MALLOC_LIMIT 0x20000u

/* Byte order. */
KEL_API uint16_t SWAPWORD(uint16_t value);
KEL_API uint32_t SWAPDWORD(uint32_t value);
KEL_API uint32_t VOR_NTOHL(const uint8_t *bytes);
KEL_API uint16_t VOR_NTOHS(const uint8_t *bytes);
KEL_API void VOR_HTONL(uint8_t *bytes, uint32_t value);
KEL_API void VOR_HTONS(uint8_t *bytes, uint16_t value);

/* Memory. */
KEL_API int32_t VOR_MEMMOVE(void *dest, const void *src, int32_t length);
KEL_API int32_t VOR_MEMCPY(void *dest, const void *src, int32_t length);
KEL_API int32_t VOR_MEMSET(void *dest, int32_t value, int32_t length);
KEL_API int32_t VOR_MEMCMP(const void *first, const void *second, uint32_t length, int32_t *result);
KEL_API int32_t VOR_SAFEMATCH(const uint8_t *first, uint32_t firstLength, const uint8_t *second,
                              uint32_t secondLength, uint32_t *match);
KEL_API int32_t VOR_XORCPY(void *dest, const void *src, uint32_t length);
KEL_API int32_t VOR_MALLOC(void **block, uint32_t size);
KEL_API int32_t VOR_FREE(void **block);
KEL_API int32_t VOR_alloc(uint32_t size, void **block);
KEL_API int32_t VOR_free(void **block);

/* Characters and strings (a character is the low byte of the int, signed). */
KEL_API char returnHexDigit(uint32_t value);
KEL_API int32_t VTOLOWER(int32_t c);
KEL_API int32_t VOR_ISSPACE(int32_t c);
KEL_API int32_t VOR_ISLWS(int32_t c);
KEL_API int32_t VOR_ISXDIGIT(int32_t c);
KEL_API int32_t VOR_ISASCII(int32_t c);
KEL_API int32_t VOR_ISDIGIT(int32_t c);
KEL_API int32_t VOR_ISLOWER(int32_t c);
KEL_API uint32_t VOR_STRLEN(const char *s);
KEL_API int32_t VOR_STRCMP(const char *first, const char *second);
KEL_API int32_t VOR_STRNICMP(const char *first, const char *second, uint32_t count);
KEL_API uint32_t VOR_STRCBCPY(char *dest, uint32_t destSize, const char *src);
KEL_API int32_t VOR_ATOL(const char *s, const char **end);
KEL_API int32_t VOR_UTOA(uint32_t value, uint8_t *buffer, uint32_t *length);
KEL_API uint8_t *VOR_LTOA(int32_t value, uint8_t *buffer, uint32_t bufferLength);

/* Numbers. */
KEL_API uint32_t VOR_DAYOFWEEK(int32_t day, int32_t month, int32_t year);
KEL_API uint32_t VOR_BITLENGTH(uint32_t value);
KEL_API uint32_t VOR_BITCOUNT(uint32_t value);
KEL_API uint32_t VOR_floorPower2(uint32_t value);

KEL_END_DECLS

#endif /* KEL_VOR_H */
