/* The diagnostic archive: one gzip-compressed tar file holding every
 * application's logs, a snapshot of the system's network state and kernel
 * messages, the system log and the network and client configuration files. */
#ifndef KEL_ARCHIVE_H
#define KEL_ARCHIVE_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

/* LOG_create_archive: builds "kel_logs_<stamp>.tar.gz" in the directory, the
 * stamp being the local time as "%G_%m_%d_%H%M%S" (ISO week-based year). Only
 * an engine initialised for application 0 or 5 may do it. Files that do not
 * exist are skipped with a warning in the log. Returns 0 with *name holding
 * the archive's file name without the directory (malloc: the caller frees
 * it); otherwise 1 (KEL_ERROR_FAILED) or 15 (KEL_ERROR_NOMEMORY), with *name
 * NULL. The caller initialises *name to NULL (a string it holds is freed
 * either way). A NULL name pointer gives 1. Blocks while
 * tar, gzip and the snapshot commands run through the shell. */
KEL_API uint32_t LOG_create_archive(const char *directory, char **name);

KEL_END_DECLS

#endif /* KEL_ARCHIVE_H */
