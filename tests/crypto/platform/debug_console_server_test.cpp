// Debug console server: the up-time text, the activation line when a
// client connects, a stop while waiting, and a port that cannot be bound.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <regex>
#include <string>

#include "crypto/platform/sockets_internal.h"
#include "kel/debug_console.h"
#include "kel/os.h"
#include "kel/sockets.h"
#include "support/sandbox.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

std::mutex g_mutex;
std::string g_text;
void Collect(const char *text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_text += text;
}
std::string Text() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_text;
}

int64_t NowMicros() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return int64_t{tv.tv_sec} * 1000000 + tv.tv_usec;
}

void StartTimeAgo(int64_t micros) {
  int64_t start = NowMicros() - micros;
  gStartTime = {static_cast<uint32_t>(start / 1000000), static_cast<uint32_t>(start % 1000000)};
}

// Whether something listens on the loopback port: a bind with address
// reuse fails then, and only then.
bool Listening(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0), one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(kLoopback);
  bool busy = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0;
  close(fd);
  return busy;
}

uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(kLoopback);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// Polls every 10 ms; false when the time runs out first.
template <class Pred>
bool WaitUntil(Pred done, int ms) {
  for (int waited = 0; !done(); waited += 10) {
    if (waited >= ms) return false;
    LINUX_sleepMS(10);
  }
  return true;
}

class ConsoleServer : public ::testing::Test {
 protected:
  void SetUp() override {
    kel::net::set_listen_address(kLoopback);
    m_errorClass = 0xFFFFFFFFu;
    g_text.clear();
    DEBUG_CONSOLE_setLogVoraneCallback(Collect);
    DEBUG_CONSOLE_init();
    port_ = FreePort();
  }
  void TearDown() override { DEBUG_CONSOLE_stop(); }
  uint16_t port_ = 0;
};

TEST_F(ConsoleServer, UpTimeIsSecondsPointUnfilledMilliseconds) {
  const std::pair<int64_t, const char *> cases[] = {
      {12005, " (12.5)"}, {0, " (0.0)"}, {999, " (0.999)"}, {61010, " (61.10)"}, {100000, " (100.0)"}};
  for (const auto &[ms, expected] : cases) {
    // Retry when the call itself took a millisecond or more (a busy machine).
    for (int attempt = 0; attempt < 5; ++attempt) {
      g_text.clear();
      int64_t before = NowMicros();
      StartTimeAgo(ms * 1000 + (NowMicros() - before));
      DEBUG_CONSOLE_printUpTime(0);
      if (NowMicros() - before < 1000) break;
    }
    EXPECT_EQ(Text(), expected) << ms;
  }
  g_text.clear();
  m_errorClass = 1;
  DEBUG_CONSOLE_printUpTime(2);
  EXPECT_EQ(Text(), "") << "class 2 is off";
}

TEST_F(ConsoleServer, ClientConnectingPrintsTheActivationLineAndGetsNoOutput) {
  StartTimeAgo(12000000);
  ASSERT_EQ(DEBUG_CONSOLE_start(port_), 0);
  ASSERT_TRUE(WaitUntil([&] { return Listening(port_); }, 3000));
  int32_t client = -1, status = 0;
  ASSERT_EQ(LINUX_TCP_connectSocket(&client, "127.0.0.1", port_), 0);
  ASSERT_TRUE(WaitUntil([] { return Text().find('\n') != std::string::npos; }, 3000)) << Text();
  EXPECT_TRUE(std::regex_match(Text(), std::regex(R"(Vorane Debug Console Activated \(1[23]\.\d{1,3}\)\r\n)")))
      << Text();
  EXPECT_TRUE(WaitUntil([&] { return !Listening(port_); }, 3000)) << "the listening socket is closed";
  uint8_t buf[8];
  uint32_t n = 0;
  EXPECT_EQ(LINUX_TCP_readSocketAvailable(client, buf, sizeof buf, &n, 200), ERR_TCP_READ_TIMEOUT);
  DEBUG_CONSOLE_stop();
  status = LINUX_TCP_readSocketAvailable(client, buf, sizeof buf, &n, 2000);
  EXPECT_EQ(status, ERR_TCP_SOCKET_CLOSED) << "stop closes the console client";
  LINUX_TCP_closeSocket(client);
}

TEST_F(ConsoleServer, StopWhileWaitingEndsTheServerWithinAboutASecondWithoutALine) {
  ASSERT_EQ(DEBUG_CONSOLE_start(port_), 0);
  ASSERT_TRUE(WaitUntil([&] { return Listening(port_); }, 3000));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(DEBUG_CONSOLE_stop(), 0);
  EXPECT_TRUE(WaitUntil([&] { return !Listening(port_); }, 3000));
  EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1600));
  EXPECT_EQ(Text(), "");
}

TEST_F(ConsoleServer, PortInUsePrintsTwoFailureLinesAfterStartReturnedZero) {
  int32_t holder = -1;
  ASSERT_EQ(LINUX_TCP_listenSocket(&holder, port_), 0);
  const std::string last = "debugConsoleServer: Could not create listen socket (-5909)\n";
  std::string out = kel::test::CaptureStdout([&] {
    EXPECT_EQ(DEBUG_CONSOLE_start(port_), 0);
    // Standard output is a file here: read it back until the second line is in.
    EXPECT_TRUE(WaitUntil(
        [&] {
          char buf[512] = {};
          return std::string(buf, static_cast<size_t>(std::max<ssize_t>(0, pread(1, buf, sizeof buf - 1, 0))))
                     .find(last) != std::string::npos;
        },
        3000));
  });
  EXPECT_EQ(out, "debugConsoleServer: Could not create listen socket\n" + last);
  EXPECT_EQ(Text().rfind("LINUX_TCP_listenSocket: bind() error : -1\r\nLINUX_TCP_listenSocket: bind() socket : ", 0),
            0u)
      << Text();
  LINUX_TCP_closeSocket(holder);
}

}  // namespace
