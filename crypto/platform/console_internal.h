// Debug console internals shared by the toolkit's platform files.
#pragma once

#include <cstdint>

namespace kel::console {

// Writes at most 256 characters of text, one character per
// DEBUG_CONSOLE_printf call, so a log callback sees single characters.
void DEBUG_CONSOLE_output(const char *text);

// The byte itself when printable (32 to 126), '.' otherwise.
char DEBUG_CONSOLE_printableChar(uint8_t byte);

// Whether a piece of this class prints under the current m_errorClass.
bool enabled(uint32_t errorClass);

}  // namespace kel::console
