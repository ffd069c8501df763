/* The client's path helpers and file utilities. Functions return client
 * error codes (KelError) unless stated otherwise. */
#ifndef KEL_GENERIC_H
#define KEL_GENERIC_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

/* Creates the path and all its parents (mode 0755): 0, 1 or 15. */
KEL_API uint32_t GENERIC_make_path(const char *path);
/* As GENERIC_make_path, but only the directories before the last '/'. */
KEL_API uint32_t GENERIC_make_intermediate_path(const char *path);
/* Real user's home directory / login name from the password database, or NULL.
 * The string belongs to the system's static entry: copy what you keep. */
KEL_API char *GENERIC_get_home_dir(void);
KEL_API char *GENERIC_get_user_name(void);

KEL_END_DECLS

#endif /* KEL_GENERIC_H */
