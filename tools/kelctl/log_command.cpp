#include <cstdio>

#include "kelctl/commands.h"

namespace kelctl {

int RunLog(int, char **) {
  std::fprintf(stderr, "kelctl log: the log engine is not part of this build yet\n");
  return kExitFailed;
}

}  // namespace kelctl
