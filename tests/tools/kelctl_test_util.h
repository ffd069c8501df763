// Runs the built kelctl as its users run it, through the shell.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace kel::test {

inline const std::string kKelctl = KEL_BINARY_DIR "/tools/kelctl";

struct Outcome {
  int exitCode = -1;
  std::string out;  // standard output and standard error together
};

// Runs a shell command line and collects both its outputs and exit status.
inline Outcome Shell(const std::string &command) {
  Outcome r;
  if (FILE *p = popen((command + " 2>&1").c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return r;
}

inline Outcome Kelctl(const std::string &args) { return Shell(kKelctl + " " + args); }

}  // namespace kel::test
