/* Base64 (RFC 4648, standard alphabet, "=" padding, no line breaks) of whole
 * messages into newly allocated buffers. Not gated.
 *
 * Statuses: 0 success; -6001 null argument; -6003 a text longer than a
 * 32-bit length can hold; -6101 allocation failed; -6501 a text length that
 * is not a positive multiple of 4, or a character outside the alphabet other
 * than final padding; -6502 decoding before BASE64_initializeContext. */
#ifndef KEL_BASE64_H
#define KEL_BASE64_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

#define ERR_BASE64_BAD_INPUT (-6501)
#define ERR_BASE64_NO_TABLE (-6502)

/* BASE64_initializeContext builds the process-wide decoding table (before
 * the first decode; not while another thread decodes). BASE64_freeContext
 * releases it; -6001 when there is none. */
KEL_API int32_t BASE64_initializeContext(void);
KEL_API int32_t BASE64_freeContext(void);

/* BASE64_encodeMessage: 4 * ceil(length / 3) characters, not terminated, in
 * a new buffer in *text (one byte longer than the text). */
KEL_API int32_t BASE64_encodeMessage(const uint8_t *data, uint32_t length, uint8_t **text, uint32_t *textLength);

/* BASE64_decodeMessage: the bytes in a new buffer in *data. On -6501 the
 * buffer, if one was made, is still handed over in *data and must be freed. */
KEL_API int32_t BASE64_decodeMessage(const uint8_t *text, uint32_t length, uint8_t **data, uint32_t *dataLength);

/* BASE64_freeMessage frees a buffer of either direction and nulls *buffer;
 * -6001 for a null pointer or buffer. */
KEL_API int32_t BASE64_freeMessage(uint8_t **buffer);

KEL_END_DECLS

#endif /* KEL_BASE64_H */
