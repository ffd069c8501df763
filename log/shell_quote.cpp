#include "log/shell_quote.h"

#include <cstdlib>
#include <cstring>

namespace kel::log {

namespace {

// A single quote inside single quotes: close, escaped quote, reopen.
constexpr char kQuoteEscape[] = "'\\''";
constexpr size_t kQuoteEscapeLength = sizeof kQuoteEscape - 1;

}  // namespace

// Words made only of these characters mean the same to the shell unquoted.
bool plain_word(const char *text) {
  if (*text == '\0') return false;
  for (const char *p = text; *p != '\0'; ++p) {
    const char c = *p;
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::strchr("_./:=@%+,-", c) != nullptr;
    if (!safe) return false;
  }
  return true;
}

size_t shell_quoted_length(const char *text) {
  if (plain_word(text)) return std::strlen(text);
  size_t n = 2;
  for (const char *p = text; *p != '\0'; ++p) n += (*p == '\'') ? kQuoteEscapeLength : 1;
  return n;
}

size_t shell_quote(const char *text, char *out, size_t cap) {
  size_t need = shell_quoted_length(text);
  if (need + 1 > cap) {
    if (cap > 0) out[0] = '\0';
    return 0;
  }
  if (plain_word(text)) {
    std::memcpy(out, text, need + 1);
    return need;
  }
  size_t at = 0;
  out[at++] = '\'';
  for (const char *p = text; *p != '\0'; ++p) {
    if (*p == '\'') {
      std::memcpy(out + at, kQuoteEscape, kQuoteEscapeLength);
      at += kQuoteEscapeLength;
    } else {
      out[at++] = *p;
    }
  }
  out[at++] = '\'';
  out[at] = '\0';
  return at;
}

char *shell_command(const char *program, const char *const *args, size_t count) {
  if (program == nullptr) return nullptr;
  size_t total = std::strlen(program) + 1;
  for (size_t i = 0; i < count; ++i) {
    if (args[i] == nullptr) return nullptr;
    total += 1 + shell_quoted_length(args[i]);
  }
  char *cmd = static_cast<char *>(std::malloc(total));
  if (cmd == nullptr) return nullptr;
  size_t at = std::strlen(program);
  std::memcpy(cmd, program, at);
  for (size_t i = 0; i < count; ++i) {
    cmd[at++] = ' ';
    at += shell_quote(args[i], cmd + at, total - at);
  }
  cmd[at] = '\0';
  return cmd;
}

}  // namespace kel::log
