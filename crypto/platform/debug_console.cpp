// The toolkit's diagnostic printer. Pieces are filtered by error class and
// all output leaves through DEBUG_CONSOLE_printf: to the registered log
// callback, or else to the output stream (standard output unless a file was
// chosen). There is no lock on the output path: pieces printed on different
// threads may interleave.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "crypto/platform/console_internal.h"
#include "kel/debug_console.h"

uint32_t m_errorClass = 0xFFFFFFFFu;

namespace kel::console {
namespace {

constexpr uint32_t kMaxPiece = 256;
constexpr uint32_t kCallbackBuffer = 1024;
constexpr uint32_t kOutputFileClass = 0x400000;

LogVoraneCallback g_callback = nullptr;
FILE *g_stream = nullptr;

FILE *stream() {
  if (g_stream == nullptr) g_stream = stdout;
  return g_stream;
}

// Formats one short piece (a number or an address) and writes it.
template <class... Args>
void piece(const char *format, Args... args) {
  char text[48];
  std::snprintf(text, sizeof text, format, args...);
  DEBUG_CONSOLE_output(text);
}

void text_if(const char *text) {
  if (text != nullptr) DEBUG_CONSOLE_output(text);
}

void line_end() { DEBUG_CONSOLE_output("\r\n"); }

void ip_address(uint32_t address) {
  piece("%03x.%03x.%03x.%03x", address >> 24, address >> 16 & 0xff, address >> 8 & 0xff, address & 0xff);
}

// ---- dump_data: one line of units, the address of its first unit in front

struct DumpLine {
  char hex[16 * 3 + 16];  // "%08X: " and up to 16 units of "%02X "
  char chars[17];
  size_t hexLen = 0;
  size_t charLen = 0;
  uint32_t units = 0;
};

void dump_unit(DumpLine &line, const uint8_t *at, uint32_t width, uint32_t available) {
  if (line.units == 0) {
    line.hexLen = static_cast<size_t>(std::snprintf(line.hex, sizeof line.hex, "%08X: ",
                                                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(at))));
    line.charLen = 0;
  }
  // Units are read in host byte order; a unit cut short by the end of the
  // data reads its missing bytes as zero.
  uint32_t value = 0;
  char *room = line.hex + line.hexLen;
  size_t left = sizeof line.hex - line.hexLen;
  int n;
  if (width == 1) {
    value = at[0];
    n = std::snprintf(room, left, "%02X ", value);
    line.chars[line.charLen++] = (value >= 32 && value <= 126) ? static_cast<char>(value) : '.';
  } else if (width == 2) {
    uint16_t v = 0;
    std::memcpy(&v, at, available < 2 ? available : 2);
    n = std::snprintf(room, left, "%04X ", static_cast<uint32_t>(v));
  } else {
    std::memcpy(&value, at, available < 4 ? available : 4);
    n = std::snprintf(room, left, "%08X ", value);
  }
  line.hexLen += static_cast<size_t>(n);
  ++line.units;
}

void dump_flush(DumpLine &line) {
  if (line.units == 0) return;
  line.hex[line.hexLen] = '\0';
  line.chars[line.charLen] = '\0';
  DEBUG_CONSOLE_printf("%s | %s\n", line.hex, line.chars);
  line.units = 0;
}

void dump_range(const uint8_t *data, uint32_t length, uint32_t width) {
  uint32_t unit = width == 1 ? 1 : width == 2 ? 2 : 4;
  uint32_t perLine = 16 / unit;
  DumpLine line;
  for (uint32_t offset = 0; offset < length; offset += unit) {
    dump_unit(line, data + offset, unit, length - offset);
    if (line.units == perLine) dump_flush(line);
  }
  dump_flush(line);
}

}  // namespace

bool enabled(uint32_t errorClass) { return (m_errorClass & errorClass) == errorClass; }

void DEBUG_CONSOLE_output(const char *text) {
  if (text == nullptr) return;
  for (uint32_t i = 0; i < kMaxPiece && text[i] != '\0'; ++i) DEBUG_CONSOLE_printf("%c", text[i]);
}

char DEBUG_CONSOLE_printableChar(uint8_t byte) { return (byte >= 32 && byte <= 126) ? static_cast<char>(byte) : '.'; }

}  // namespace kel::console

using kel::console::DEBUG_CONSOLE_output;
using kel::console::enabled;
using kel::console::piece;
using kel::console::text_if;

void DEBUG_CONSOLE_printf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  if (kel::console::g_callback != nullptr) {
    char text[kel::console::kCallbackBuffer] = {};
    std::vsnprintf(text, sizeof text, format, args);  // longer output is cut
    kel::console::g_callback(text);
  } else {
    FILE *out = kel::console::stream();
    std::vfprintf(out, format, args);
    std::fflush(out);
  }
  va_end(args);
}

void DEBUG_CONSOLE_setLogVoraneCallback(LogVoraneCallback callback) { kel::console::g_callback = callback; }

int32_t DEBUG_CONSOLE_setOutput(const char *path) {
  DEBUG_CONSOLE_printf("Switching output stream");
  FILE *&current = kel::console::g_stream;
  if (current != nullptr && current != stdout) std::fclose(current);
  current = nullptr;
  FILE *file = path != nullptr ? std::fopen(path, "w") : nullptr;
  if (file != nullptr) {
    current = file;
    return 0;
  }
  // Nothing is set now: the next print takes standard output.
  if (m_errorClass & kel::console::kOutputFileClass) {
    DEBUG_CONSOLE_printf("%s[%d]: ", "DEBUG_CONSOLE_setOutput", __LINE__);
    DEBUG_CONSOLE_printf("Failed to open %s for writing", path != nullptr ? path : "(null)");
    DEBUG_CONSOLE_printf("\n");
  }
  return DEBUG_CONSOLE_ERR_OUTPUT_FILE;
}

// ---- class-filtered pieces

void DEBUG_CONSOLE_printString(uint32_t errorClass, const char *text) {
  if (enabled(errorClass)) text_if(text);
}

void DEBUG_CONSOLE_printNewLine(uint32_t errorClass, const char *text) {
  if (!enabled(errorClass)) return;
  text_if(text);
  kel::console::line_end();
}

void DEBUG_CONSOLE_printInteger(uint32_t errorClass, int32_t value) {
  if (enabled(errorClass)) piece("%d", value);
}

void DEBUG_CONSOLE_printInteger2(uint32_t errorClass, int32_t v1, int32_t v2) {
  if (enabled(errorClass)) piece("%d%d", v1, v2);
}

void DEBUG_CONSOLE_printInteger3(uint32_t errorClass, int32_t v1, int32_t v2, int32_t v3) {
  if (enabled(errorClass)) piece("%d%d%d\r\n", v1, v2, v3);
}

void DEBUG_CONSOLE_printInteger4(uint32_t errorClass, int32_t v1, int32_t v2, int32_t v3, int32_t v4) {
  if (enabled(errorClass)) piece("%d%d%d%d\r\n", v1, v2, v3, v4);
}

void DEBUG_CONSOLE_printUnsignedInteger(uint32_t errorClass, uint32_t value) {
  if (enabled(errorClass)) piece("%u", value);
}

void DEBUG_CONSOLE_printUnsignedInteger2(uint32_t errorClass, uint32_t v1, uint32_t v2) {
  if (enabled(errorClass)) piece("%u%u\r\n", v1, v2);
}

void DEBUG_CONSOLE_printUnsignedInteger3(uint32_t errorClass, uint32_t v1, uint32_t v2, uint32_t v3) {
  if (enabled(errorClass)) piece("%u%u%u\r\n", v1, v2, v3);
}

void DEBUG_CONSOLE_printUnsignedInteger4(uint32_t errorClass, uint32_t v1, uint32_t v2, uint32_t v3, uint32_t v4) {
  if (enabled(errorClass)) piece("%u%u%u%u\r\n", v1, v2, v3, v4);
}

void DEBUG_CONSOLE_hexByte(uint32_t errorClass, uint8_t value) {
  if (enabled(errorClass)) piece("%02x", static_cast<uint32_t>(value));
}

void DEBUG_CONSOLE_hexInt(uint32_t errorClass, uint32_t value) {
  if (enabled(errorClass)) piece("%08x", value);
}

void DEBUG_CONSOLE_printHexInt2(uint32_t errorClass, uint32_t v1, uint32_t v2) {
  if (enabled(errorClass)) piece("%08x%08x\r\n", v1, v2);
}

void DEBUG_CONSOLE_printHexInt3(uint32_t errorClass, uint32_t v1, uint32_t v2, uint32_t v3) {
  if (enabled(errorClass)) piece("%08x%08x%08x\r\n", v1, v2, v3);
}

void DEBUG_CONSOLE_printHexInt4(uint32_t errorClass, uint32_t v1, uint32_t v2, uint32_t v3, uint32_t v4) {
  if (enabled(errorClass)) piece("%08x%08x%08x%08x\r\n", v1, v2, v3, v4);
}

void DEBUG_CONSOLE_printByte(uint32_t errorClass, char value) {
  if (enabled(errorClass)) DEBUG_CONSOLE_printf("%c", value);
}

void DEBUG_CONSOLE_printError(uint32_t errorClass, const char *text, int32_t value) {
  if (!enabled(errorClass)) return;
  text_if(text);
  piece("%d\r\n", value);
}

void DEBUG_CONSOLE_print3(uint32_t errorClass, const char *s1, const char *s2, const char *s3) {
  if (!enabled(errorClass)) return;
  text_if(s1);
  text_if(s2);
  text_if(s3);
  kel::console::line_end();
}

void DEBUG_CONSOLE_printString2(uint32_t errorClass, const char *s1, const char *s2) {
  if (!enabled(errorClass)) return;
  text_if(s1);
  text_if(s2);
}

void DEBUG_CONSOLE_printString1Int1(uint32_t errorClass, const char *text, int32_t value) {
  if (!enabled(errorClass)) return;
  text_if(text);
  piece("%d", value);
}

void DEBUG_CONSOLE_printString1HexInt1(uint32_t errorClass, const char *text, uint32_t value) {
  if (!enabled(errorClass)) return;
  text_if(text);
  piece("%08x", value);
}

void DEBUG_CONSOLE_printString2Int2(uint32_t errorClass, const char *s1, int32_t v1, const char *s2, int32_t v2) {
  if (!enabled(errorClass)) return;
  text_if(s1);
  piece("%d", v1);
  text_if(s2);
  piece("%d", v2);
}

void DEBUG_CONSOLE_printString2HexInt2(uint32_t errorClass, const char *s1, uint32_t v1, const char *s2,
                                       uint32_t v2) {
  if (!enabled(errorClass)) return;
  text_if(s1);
  piece("%08x", v1);
  text_if(s2);
  piece("%08x", v2);
}

void DEBUG_CONSOLE_printAsciiIPAddr(uint32_t errorClass, uint32_t address) {
  if (enabled(errorClass)) kel::console::ip_address(address);
}

void DEBUG_CONSOLE_printString1AsciiIPAddr(uint32_t errorClass, const char *text, uint32_t address) {
  if (!enabled(errorClass)) return;
  text_if(text);
  kel::console::ip_address(address);
}

// ---- dumps

uint32_t DEBUG_CONSOLE_hexDump(uint32_t errorClass, const uint8_t *data, uint32_t length) {
  if (data == nullptr) return 0;
  uint32_t offset = 0;
  for (; offset < length; offset += 16) {
    uint32_t block = length - offset < 16 ? length - offset : 16;
    DEBUG_CONSOLE_printString(errorClass, "  ");
    DEBUG_CONSOLE_hexInt(errorClass, offset);
    DEBUG_CONSOLE_printString(errorClass, ": ");
    for (uint32_t i = 0; i < block; ++i) {
      DEBUG_CONSOLE_hexByte(errorClass, data[offset + i]);
      DEBUG_CONSOLE_printString(errorClass, " ");
    }
    for (uint32_t i = block; i < 16; ++i) DEBUG_CONSOLE_printString(errorClass, "   ");
    DEBUG_CONSOLE_printString(errorClass, "    ");
    for (uint32_t i = 0; i < block; ++i)
      DEBUG_CONSOLE_printByte(errorClass, kel::console::DEBUG_CONSOLE_printableChar(data[offset + i]));
    DEBUG_CONSOLE_printNewLine(errorClass, nullptr);
  }
  return offset;
}

void DEBUG_CONSOLE_dump_data(const void *data, uint32_t length, int32_t limit, uint32_t width, const char *title) {
  if (data == nullptr || static_cast<int32_t>(length) <= 0) return;
  if (limit < 1) limit = static_cast<int32_t>(length);
  kel::console::stream();
  if (title != nullptr) DEBUG_CONSOLE_printf("===== Dump: %s [%d]\n", title, static_cast<int32_t>(length));
  // Whole 32-bit words, but never past the end of the data.
  uint32_t region = (length + 3) & ~3u;
  if (region > length) region = length;
  const auto *bytes = static_cast<const uint8_t *>(data);
  uint32_t shown = region;
  if (static_cast<int64_t>(limit) + 16 < region) shown = static_cast<uint32_t>(limit);
  kel::console::dump_range(bytes, shown, width);
  if (shown < region) {
    DEBUG_CONSOLE_printf("...\n");
    kel::console::dump_range(bytes + region - 16, 16, width);
  }
}
