// Entry point of the editor-host test programs: GLib must see its debug
// environment before it loads, so the program may start itself again.
#include <gtest/gtest.h>

#include "properties/host.h"

int main(int argc, char **argv) {
  kel::test::host::PrepareEnvironment(argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
