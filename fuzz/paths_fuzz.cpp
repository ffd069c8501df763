// The status-file path and the archive's path helpers on any names: the
// status path is the fixed directory and the name or a refusal, the
// application log directory is the text before the last "app-kel.log", and
// the logged command line of any arguments has the length it announces.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "log/archive_internal.h"
#include "log/shell_quote.h"
#include "log/status_internal.h"

using kel::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The input's zero bytes split it into names.
  std::vector<std::string> names;
  const std::string text(reinterpret_cast<const char *>(data), size);
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find('\0', at);
    if (end == std::string::npos) end = text.size();
    names.push_back(text.substr(at, end - at));
    at = end + 1;
  }

  char path[kel::status::kMaxStatusPath + 1];
  const std::string full = std::string(kel::status::kStatusDir) + names[0];
  const bool fits = full.size() <= kel::status::kMaxStatusPath;
  check(kel::status::status_path(names[0].c_str(), path) == fits, "status path refused exactly when too long");
  if (fits) check(full == path, "status path is the directory and the name");

  const char *kLog = "app-kel.log";
  char *dir = kel::archive::prefix_before_last(names[0].c_str(), kLog);
  const size_t last = names[0].rfind(kLog);
  check((dir != nullptr) == (last != std::string::npos), "a directory exactly when the name occurs");
  if (dir != nullptr) check(names[0].substr(0, last) == dir, "the text before the last occurrence");
  std::free(dir);

  std::vector<const char *> argv;
  for (const auto &n : names) argv.push_back(n.c_str());
  argv.push_back(nullptr);
  const char *in = names.size() > 2 ? names[1].c_str() : nullptr;
  const char *out = names.size() > 3 ? names[2].c_str() : nullptr;
  char *line = kel::archive::command_text(argv.data(), in, out);
  check(line != nullptr, "command text");
  size_t expected = names[0].size();
  for (size_t i = 1; i < names.size(); ++i) expected += 1 + kel::log::shell_quoted_length(names[i].c_str());
  if (in != nullptr) expected += 3 + kel::log::shell_quoted_length(in);
  if (out != nullptr) expected += 3 + kel::log::shell_quoted_length(out);
  check(std::strlen(line) == expected, "command text length");
  std::free(line);
  return 0;
}
