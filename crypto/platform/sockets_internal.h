// Socket internals shared by the toolkit's platform files and its tests.
#pragma once

#include <cstdint>

namespace kel::net {

// The address (host order) listening sockets bind to: every local address
// unless a test pins it to the loopback interface.
void set_listen_address(uint32_t address);

}  // namespace kel::net
