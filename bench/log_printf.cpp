// LOG_printf lines per second: with the file output (open, append, close and
// a size check per line, by design), and with every output off (time stamp,
// formatting and the lock only). Beside them, the same per-line file work
// done directly with stdio, as the yardstick. Median of several runs, in a
// temporary directory.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "kel/log.h"

namespace {

constexpr int kLines = 8000;  // about 700 KB a run: below the rotation size
constexpr int kRuns = 5;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <class F>
double LinesPerSecond(F &&writeLines, const std::string &file) {
  std::vector<double> rates;
  for (int r = 0; r < kRuns; ++r) {
    std::remove(file.c_str());
    auto t0 = std::chrono::steady_clock::now();
    writeLines();
    auto t1 = std::chrono::steady_clock::now();
    rates.push_back(kLines / std::chrono::duration<double>(t1 - t0).count());
  }
  std::remove(file.c_str());
  return Median(rates);
}

void EngineLines() {
  for (int i = 0; i < kLines; ++i)
    LOG_printf(LOG_LEVEL_INFO, "log_printf", "EngineLines", 42, "bench line %d of %d with some text\r\n", i, kLines);
}

// The engine's per-line file policy written out by hand: stamp, format,
// open for appending, write, close, read the size.
void StdioLines(const std::string &file) {
  for (int i = 0; i < kLines; ++i) {
    char stamp[32], line[1024];
    struct timeval now;
    gettimeofday(&now, nullptr);
    time_t s = now.tv_sec;
    struct tm local;
    localtime_r(&s, &local);
    size_t n = std::strftime(stamp, sizeof stamp, "%b %d %T", &local);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03lu", static_cast<unsigned long>(now.tv_usec / 1000));
    int h = std::snprintf(line, sizeof line, "%s [%s %s %s():%s:%d] ", stamp, "KEL", "INFO", "StdioLines",
                          "log_printf", 42);
    std::snprintf(line + h, sizeof line - h, "bench line %d of %d with some text\r\n", i, kLines);
    if (FILE *f = std::fopen(file.c_str(), "a+")) {
      std::fputs(line, f);
      std::fclose(f);
    }
    struct stat st;
    stat(file.c_str(), &st);
  }
}

}  // namespace

int main() {
  char pattern[] = "/tmp/kel-bench-log-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = pattern;
  const std::string engineFile = dir + "/app-kel.log", stdioFile = dir + "/stdio.log";
  if (LOG_init(LOG_APP_KEL, nullptr, dir.c_str()) != 0) {
    std::fprintf(stderr, "LOG_init failed\n");
    return 1;
  }

  LOG_set_option(LOG_OPTION_FILE);
  const double file = LinesPerSecond(EngineLines, engineFile);
  const double stdio = LinesPerSecond([&] { StdioLines(stdioFile); }, stdioFile);
  LOG_set_option(0);
  const double none = LinesPerSecond(EngineLines, engineFile);
  LOG_deinit();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);

  std::printf("LOG_printf, %d lines a run, median of %d runs (directory %s)\n", kLines, kRuns, dir.c_str());
  std::printf("%-34s %12s %8s\n", "case", "lines/s", "ratio");
  std::printf("%-34s %12.0f %8.2f\n", "stdio open/append/close/stat", stdio, 1.0);
  std::printf("%-34s %12.0f %8.2f\n", "LOG_printf, file output", file, file / stdio);
  std::printf("%-34s %12.0f %8.2f\n", "LOG_printf, output 0", none, none / stdio);
  return 0;
}
