/* The client's path helpers and file utilities. Functions return client
 * error codes (KelError) unless stated otherwise. */
#ifndef KEL_GENERIC_H
#define KEL_GENERIC_H

#include <stdint.h>

#include "kel/export.h"
#include "kel/linked_list.h"

KEL_BEGIN_DECLS

/* Creates the path and all its parents (mode 0755): 0, 1 or 15. */
KEL_API uint32_t GENERIC_make_path(const char *path);
/* As GENERIC_make_path, but only the directories before the last '/'. */
KEL_API uint32_t GENERIC_make_intermediate_path(const char *path);
/* Real user's home directory / login name from the password database, or NULL.
 * The string belongs to the system's static entry: copy what you keep. */
KEL_API char *GENERIC_get_home_dir(void);
KEL_API char *GENERIC_get_user_name(void);

/* ---- File utilities and the status file ----------------------------------
 * Every failure is logged at ERROR through LOG_printf. */

/* GENERIC_read_file: reads the whole file into a new buffer (malloc, no
 * terminator added; the caller frees it) and its size. 0; 6 a NULL argument;
 * 1 cannot open, cannot examine, or size below 1; 15 no memory; 5 read failed.
 * The caller's variables are written only on success. */
KEL_API uint32_t GENERIC_read_file(const char *path, uint8_t **buffer, uint32_t *length);
/* GENERIC_write_file: creates or truncates the file (permissions mode, 0644
 * when mode is 0) and writes length bytes. 0; 6 NULL path or data; 1 cannot
 * open; 14 write failed (what was written stays). */
KEL_API uint32_t GENERIC_write_file(const char *path, const uint8_t *data, uint32_t length, uint32_t mode);
/* GENERIC_check_file_exists: 0 exists; 28 no such file (not logged); 1 any
 * other access error; 6 NULL. */
KEL_API uint32_t GENERIC_check_file_exists(const char *name);
/* GENERIC_file_list_get: appends a malloc'ed copy of every entry name of the
 * directory except "." and ".." to the list (release the names with
 * LinkedList_free_buffers). 0; 6 a NULL argument; 14 cannot open. */
KEL_API uint32_t GENERIC_file_list_get(const char *path, LinkedList *list);
/* GENERIC_get_temp_dir: "/tmp". */
KEL_API const char *GENERIC_get_temp_dir(void);
/* GENERIC_get_temp_file_path: a new string (malloc) "/tmp/" followed by the
 * pattern formatted with the number. The pattern must hold exactly one
 * conversion, %u, %o, %x or %X with flags, width and precision at most ("%%"
 * is text). NULL for a NULL or other pattern, a number above 99 or no memory. */
KEL_API char *GENERIC_get_temp_file_path(const char *pattern, uint32_t number);
/* globalStatus: writes the text (as it is) to "/usr/share/kel/status/" + name,
 * creating the directories. 0, or 14 when the file cannot be written (also
 * for a NULL argument or a path longer than 255 characters). */
KEL_API uint32_t globalStatus(const char *name, const char *text);

KEL_END_DECLS

#endif /* KEL_GENERIC_H */
