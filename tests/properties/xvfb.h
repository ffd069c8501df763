// A private X server for tests that build GTK widgets: Xvfb picks a free
// display itself (-displayfd), so parallel tests never collide.
#pragma once

#include <sys/types.h>

#include <string>

namespace kel::test {

class Xvfb {
 public:
  // Starts the server and sets DISPLAY; display() is empty when it failed.
  Xvfb();
  ~Xvfb();
  Xvfb(const Xvfb &) = delete;
  Xvfb &operator=(const Xvfb &) = delete;
  const std::string &display() const { return display_; }
  const std::string &why() const { return why_; }

 private:
  pid_t pid_ = -1;
  std::string display_, why_;
};

}  // namespace kel::test
