// kelctl console: a console client (this test) that makes
// the tool print the activation line and exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "crypto/platform/sockets_internal.h"
#include "kel/os.h"
#include "kel/sockets.h"
#include "support/sandbox.h"

namespace {

using kel::test::Kelctl;

TEST(KelctlConsole, AClientThatConnects) {
  EXPECT_EQ(Kelctl("console").exitCode, 2);  // no port
  kel::net::set_listen_address(INADDR_LOOPBACK);
  int32_t probe = -1;  // a free port: bound by the system, then let go
  ASSERT_EQ(LINUX_TCP_listenSocket(&probe, 0), 0);
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(probe, reinterpret_cast<sockaddr *>(&a), &len);
  const uint16_t port = ntohs(a.sin_port);
  const std::string p = std::to_string(port);
  LINUX_TCP_closeSocket(probe);
  FILE *tool = popen((kel::test::kKelctl + " console --wait 10 --port " + p + " 2>&1").c_str(), "r");
  ASSERT_NE(tool, nullptr);
  char line[256] = {};
  ASSERT_NE(fgets(line, sizeof line, tool), nullptr);
  EXPECT_EQ(std::string(line), "kelctl console: debug console listening on port " + p +
                                   " (every local address); connect with: nc 127.0.0.1 " + p + "\n");
  int32_t client = -1;
  for (int i = 0; i < 20 && LINUX_TCP_connectSocket(&client, "127.0.0.1", port) != 0; ++i) {
    LINUX_TCP_closeSocket(client);  // the server thread has not bound yet
    LINUX_sleepMS(100);
  }
  std::string rest;
  for (size_t n; (n = fread(line, 1, sizeof line, tool)) > 0;) rest.append(line, n);
  EXPECT_EQ(pclose(tool), 0);
  EXPECT_TRUE(rest.rfind("Vorane Debug Console Activated (", 0) == 0 && rest.ends_with(")\r\n")) << rest;
  LINUX_TCP_closeSocket(client);
}

}  // namespace
