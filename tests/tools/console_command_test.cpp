// kelctl console: usage errors, a busy port, no client in time, and a
// console client that makes the tool print the activation line and exit.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "kel/sockets.h"
#include "tools/kelctl_test_util.h"

namespace {

using kel::test::Kelctl;

// A socket listening on a loopback port the system chooses.
int LoopbackListener(uint16_t *port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  listen(fd, 1);
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

TEST(KelctlConsole, BadUsageBusyPortAndNoClient) {
  for (const char *args : {"", "--port 0", "--port 70000", "--port x", "--port 5 --wait", "--bogus 1"})
    EXPECT_EQ(Kelctl(std::string("console ") + args).exitCode, 2) << args;
  uint16_t port = 0;
  int busy = LoopbackListener(&port);
  auto r = Kelctl("console --port " + std::to_string(port));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("cannot listen on port " + std::to_string(port)), std::string::npos) << r.out;
  close(busy);
  r = Kelctl("console --wait 1 --port " + std::to_string(port));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("no console client within 1 s"), std::string::npos) << r.out;
}

TEST(KelctlConsole, ClientConnectingShowsTheActivationLine) {
  uint16_t port = 0;
  close(LoopbackListener(&port));
  const std::string p = std::to_string(port);
  FILE *tool = popen((kel::test::kKelctl + " console --wait 10 --port " + p + " 2>&1").c_str(), "r");
  ASSERT_NE(tool, nullptr);
  char line[256] = {};
  ASSERT_NE(fgets(line, sizeof line, tool), nullptr);  // printed once the server thread runs
  EXPECT_EQ(std::string(line), "kelctl console: debug console listening on port " + p +
                                   " (every local address); connect with: nc 127.0.0.1 " + p + "\n");
  int32_t client = -1;
  // The server thread may not have bound yet: a few tries, 100 ms apart.
  for (int i = 0; i < 20 && LINUX_TCP_connectSocket(&client, "127.0.0.1", port) != 0; ++i) {
    LINUX_TCP_closeSocket(client);
    usleep(100000);
  }
  std::string rest;
  for (size_t n; (n = fread(line, 1, sizeof line, tool)) > 0;) rest.append(line, n);
  EXPECT_EQ(pclose(tool), 0);
  EXPECT_EQ(rest.rfind("Vorane Debug Console Activated (", 0), 0u) << rest;
  EXPECT_EQ(rest.substr(rest.size() - 3), ")\r\n");
  uint8_t buf[4];
  uint32_t count = 0;
  EXPECT_EQ(LINUX_TCP_readSocketAvailable(client, buf, sizeof buf, &count, 2000), ERR_TCP_SOCKET_CLOSED)
      << "the tool's stop closes the console connection";
  LINUX_TCP_closeSocket(client);
}

}  // namespace
