// Shell quoting of the commands the diagnostic archive runs, as its log shows
// them: a word that is not plain (letters, digits and _ . / : = @ % + , -)
// is wrapped in single quotes, an embedded single quote becoming '\'', so
// the line pasted into a shell gives the program exactly the same words.
#pragma once

#include <cstddef>

namespace kel::log {

// Length of the quoted form of text (without the terminator).
size_t shell_quoted_length(const char *text);

// Writes the quoted form of text and a terminator to out, which holds cap
// bytes. Returns the length written, or 0 (out left empty when cap > 0) when
// it does not fit.
size_t shell_quote(const char *text, char *out, size_t cap);

// Builds "program arg1 'arg 2' ..." in a malloc'd string (free() it): the
// program text is taken as it is, every argument is quoted as needed. Null
// on allocation failure or a null argument.
char *shell_command(const char *program, const char *const *args, size_t count);

}  // namespace kel::log
