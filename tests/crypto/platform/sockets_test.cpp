// Sockets on loopback (real peers, time-outs, close and reset, the stoppable
// accept, load, bad input) and the debug console server built on them.
#include "kel/sockets.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <regex>
#include <thread>

#include "crypto/common/alloc.h"
#include "crypto/platform/sockets_internal.h"
#include "kel/debug_console.h"
#include "kel/os.h"
#include "kel/vor.h"
#include "support/sandbox.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr uint32_t kLoopback = 0x7F000001;

uint16_t LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  return ntohs(a.sin_port);
}
// Only a listening port makes a bind with address reuse fail.
bool Listening(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0), one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = {AF_INET, htons(port), {htonl(kLoopback)}, {}};
  bool busy = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0;
  close(fd);
  return busy;
}
// Waits on the condition, with a deadline (the accept loop polls once a second).
bool WaitUntil(const std::function<bool()> &done) {
  for (auto end = Clock::now() + 5s; !done();)
    if (Clock::now() > end) return false;
    else std::this_thread::yield();
  return true;
}
std::string Read(int32_t fd, uint32_t size, int32_t expected, uint32_t timeoutMs = 2000) {
  std::vector<uint8_t> buf(size);
  uint32_t n = 0;
  EXPECT_EQ(LINUX_TCP_readSocketAvailable(fd, buf.data(), size, &n, timeoutMs), expected);
  return std::string(buf.begin(), buf.begin() + std::min(n, size));
}
int32_t Write(int32_t fd, const std::string &s) {
  uint32_t n = 0;
  return LINUX_TCP_writeSocket(fd, reinterpret_cast<const uint8_t *>(s.data()), uint32_t(s.size()), &n);
}
std::mutex gMutex;
// Console text from any thread; never destroyed, as a server thread may outlive the test.
std::string &gText = *new std::string;
std::string Text() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gText;
}

class Sockets : public ::testing::Test {
 protected:
  void SetUp() override {
    kel::net::set_listen_address(kLoopback);
    m_errorClass = 0xFFFFFFFFu;
    DEBUG_CONSOLE_setLogVoraneCallback([](const char *t) { std::lock_guard<std::mutex> lock(gMutex); gText += t; });
    DEBUG_CONSOLE_init();
    LINUX_TCP_init();
  }
  void TearDown() override {
    DEBUG_CONSOLE_stop();
    EXPECT_EQ(LINUX_TCP_shutdown(), 0);
  }
  static void Pair(int32_t *client, int32_t *server, const char *address = "127.0.0.1") {
    int32_t listener = -1, stop = 0;
    ASSERT_EQ(LINUX_TCP_listenSocket(&listener, 0), 0);
    ASSERT_EQ(LINUX_TCP_connectSocket(client, address, LocalPort(listener)), 0);
    ASSERT_EQ(LINUX_TCP_acceptSocket(server, listener, &stop), 0);
    LINUX_TCP_closeSocket(listener);
  }
  static uint16_t FreePort() {
    int32_t probe = -1;
    LINUX_TCP_listenSocket(&probe, 0);
    uint16_t port = LocalPort(probe);
    LINUX_TCP_closeSocket(probe);
    return port;
  }
};

TEST_F(Sockets, ExchangeTimeOutCloseResetRefusalAndSignals) {
  for (int sig : {SIGHUP, SIGINT, SIGPIPE, SIGALRM}) {  // a vanished peer must not end the host
    struct sigaction now;
    sigaction(sig, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN) << sig;
  }
  int32_t client = -1, server = -1, other = -1, status = 0;
  ASSERT_NO_FATAL_FAILURE(Pair(&client, &server));
  EXPECT_EQ(Write(client, "ping"), 0);
  EXPECT_EQ(Read(server, 16, 0), "ping");
  EXPECT_EQ(Write(server, "pong!"), 0);
  EXPECT_EQ(Read(client, 3, 0, 0), "pon") << "a short read is success";
  EXPECT_EQ(Read(client, 16, 0), "g!");
  uint16_t port = 0;
  uint32_t address = 0;
  ASSERT_EQ(LINUX_TCP_getPeerName(server, &port, &address), 0);
  EXPECT_TRUE(port == LocalPort(client) && address == kLoopback) << port << " " << address;
  EXPECT_NE(fcntl(server, F_GETFD) & FD_CLOEXEC, 0);
  auto start = Clock::now();
  Read(server, 16, ERR_TCP_READ_TIMEOUT, 500);
  EXPECT_TRUE(Clock::now() - start >= 450ms && Clock::now() - start < 1000ms);
  LINUX_TCP_closeSocket(client);
  Read(server, 16, ERR_TCP_SOCKET_CLOSED, 0);
  // Text that does not parse is 0.0.0.0, which Linux takes for this host.
  ASSERT_NO_FATAL_FAILURE(Pair(&client, &other, "no address"));
  linger reset = {1, 0};
  setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  LINUX_TCP_closeSocket(client);
  Read(other, 16, ERR_TCP_READ_ERROR, 3000);
  for (int i = 0; i < 100 && (status = Write(server, "x")) == 0; ++i) {  // the closed peer resets a later write
  }
  EXPECT_EQ(status, ERR_TCP_WRITE_ERROR);
  LINUX_TCP_closeSocket(server);
  LINUX_TCP_closeSocket(other);
  EXPECT_EQ(LINUX_TCP_connectSocket(&client, "127.0.0.1", FreePort()), ERR_TCP_CONNECT);
  EXPECT_NE(fcntl(client, F_GETFD), -1) << "left open for the caller";
  LINUX_TCP_closeSocket(client);
  int32_t listener = -1, sock = -7, stop = 0;
  ASSERT_EQ(LINUX_TCP_listenSocket(&listener, 0), 0);
  std::thread stopper([&] { std::atomic_ref<int32_t>(stop).store(1); });
  start = Clock::now();
  EXPECT_EQ(LINUX_TCP_acceptSocket(&sock, listener, &stop), 0);
  EXPECT_LE(Clock::now() - start, 1600ms) << "a stop ends the accept within about a second";
  EXPECT_EQ(sock, -7);
  stopper.join();
  LINUX_TCP_closeSocket(listener);
}

TEST_F(Sockets, TwoHundredConnectionsOnFourThreadsLeaveNoDescriptor) {
  size_t before = kel::test::FootprintNow().descriptors;
  std::atomic<int> good{0};
  auto fifty = [&] {
    for (int i = 0, client = -1, server = -1; i < 50; ++i) {
      Pair(&client, &server);
      good += Write(client, "hi") == 0 && LINUX_TCP_closeSocket(client) == 0 && LINUX_TCP_closeSocket(server) == 0;
    }
  };
  std::thread threads[] = {std::thread(fifty), std::thread(fifty), std::thread(fifty), std::thread(fifty)};
  for (auto &t : threads) t.join();
  EXPECT_EQ(good, 200);
  EXPECT_EQ(kel::test::FootprintNow().descriptors, before);
}

TEST_F(Sockets, UdpRoundTripAndTheReadinessWait) {
  UdpHandle *a = nullptr, *b = nullptr, *c = nullptr;
  uint16_t portA = 0, portB = 0, from = 0;
  uint32_t address = 0, count = 99;
  int32_t fd = -1;
  uint8_t buf[16] = {};
  ASSERT_EQ(LINUX_UDP_simpleBind(&a, kLoopback, 0, 1) | LINUX_UDP_simpleBind(&c, kLoopback, 0, 1), 0);
  ASSERT_EQ(LINUX_UDP_getSrcPortAddr(a, &portA, &address) | LINUX_UDP_getFd(a, &fd), 0);
  EXPECT_TRUE(portA != 0 && address == kLoopback && LocalPort(fd) == portA);
  EXPECT_EQ(LINUX_UDP_recv(a, buf, sizeof buf, &count), 0) << "empty non-blocking socket";
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(LINUX_UDP_connect(&b, kLoopback, 0, kLoopback, portA, 0), 0);
  UdpHandle *set[4] = {a, nullptr, b, c};
  EXPECT_EQ(LINUX_UDP_selReadAvl(set, 4, 100), ERR_UDP_SELECT_TIMEOUT);
  EXPECT_EQ(set[3], c) << "a time-out leaves the array alone";
  ASSERT_EQ(LINUX_UDP_send(b, reinterpret_cast<const uint8_t *>("hello"), 5), 0);
  EXPECT_EQ(LINUX_UDP_selReadAvl(set, 4, 1000), 0);
  EXPECT_TRUE(set[0] == a && set[2] == nullptr && set[3] == nullptr);
  ASSERT_EQ(LINUX_UDP_recvFrom(a, &address, &from, buf, sizeof buf, &count), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), count), "hello");
  LINUX_UDP_getSrcPortAddr(b, &portB, &address);
  EXPECT_EQ(from, portB);
  ASSERT_EQ(LINUX_UDP_sendTo(a, kLoopback, portB, reinterpret_cast<const uint8_t *>("yo"), 2), 0);
  ASSERT_EQ(LINUX_UDP_recv(b, buf, sizeof buf, &count), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), count), "yo");
  for (UdpHandle **h : {&a, &b, &c}) EXPECT_TRUE(LINUX_UDP_unbind(h) == 0 && *h == nullptr);
}

// A status of -6101 means the case runs with the next allocation failing.
TEST_F(Sockets, BadInputAndAllocationFailureLeakNothing) {
  int32_t listener = -1, sock = -1, stop = 0;
  uint32_t n = 0;
  uint8_t buf[4] = {};
  ASSERT_EQ(LINUX_TCP_listenSocket(&listener, 0), 0);
  UdpHandle *none = nullptr, *udp = nullptr, outOfSet = {1024, {}}, *big = &outOfSet;
  size_t before = kel::test::FootprintNow().descriptors;
  const std::pair<std::function<int32_t()>, int32_t> cases[] = {
      {[&] { return LINUX_TCP_listenSocket(&sock, 0x10000 | LocalPort(listener)); }, ERR_TCP_LISTEN_BIND},
      {[&] { return LINUX_TCP_acceptSocket(&sock, 1024, &stop); }, ERR_TCP_ACCEPT},
      {[&] { return LINUX_TCP_acceptSocket(&sock, listener, &stop); }, ERR_MEM_ALLOC_FAIL},
      {[&] { return LINUX_TCP_readSocketAvailable(1024, buf, 4, &n, 10); }, ERR_TCP_READ_ERROR},
      {[&] { return LINUX_TCP_readSocketAvailable(listener, buf, 4, &n, 10); }, ERR_MEM_ALLOC_FAIL},
      {[&] { return LINUX_TCP_writeSocket(-1, buf, 1, &n); }, ERR_TCP_WRITE_ERROR},
      {[&] { return LINUX_TCP_writeSocket(listener, nullptr, 1, &n); }, ERR_NULL_POINTER},
      {[&] { return LINUX_UDP_connect(&udp, kLoopback, 0, 0, 9, 0); }, ERR_NULL_POINTER},
      {[&] { return LINUX_TCP_getPeerName(listener, nullptr, &n); }, ERR_NULL_POINTER},
      {[&] { return LINUX_UDP_simpleBind(&udp, kLoopback, 0, 0); }, ERR_MEM_ALLOC_FAIL},
      {[&] { return LINUX_UDP_unbind(&none); }, 0},
      {[&] { return LINUX_UDP_selReadAvl(&big, 1, 0); }, ERR_UDP_READ},
      {[&] { return LINUX_UDP_selReadAvl(&big, 1, 0); }, ERR_MEM_ALLOC_FAIL},
      {[&] { return LINUX_UDP_getAddressOfHost(nullptr, &n); }, ERR_UDP_GETHOSTBYNAME},
      {[&] { return LINUX_UDP_getAddressOfHost("localhost", nullptr); }, ERR_NULL_POINTER},
      {[&] { return LINUX_UDP_getSrcPortAddr(nullptr, nullptr, nullptr); }, ERR_NULL_POINTER},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    kel::mem::fail_after(cases[i].second == ERR_MEM_ALLOC_FAIL ? 0 : -1);
    EXPECT_EQ(cases[i].first(), cases[i].second) << "case " << i;
  }
  kel::mem::fail_after(-1);
  EXPECT_EQ(udp, nullptr);
  EXPECT_EQ(kel::test::FootprintNow().descriptors, before);
  LINUX_TCP_closeSocket(listener);
}

// A private hosts file and "hosts: files": no query leaves the machine.
TEST_F(SandboxTest, HostLookupsInAPrivateHostsFile) {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  kel::test::TempDir d;
  kel::test::WriteFile(d / "hosts", "127.0.0.1 localhost\n127.0.0.2 " + std::string(host) + "\n2001:db8::1 v6\n");
  kel::test::WriteFile(d / "nss", "hosts: files\n");
  ASSERT_EQ(mount((d / "hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr), 0);
  ASSERT_EQ(mount((d / "nss").c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr), 0);
  uint32_t address = 0, own = 0;
  EXPECT_EQ(LINUX_UDP_getAddressOfHost("localhost", &address) | LINUX_UDP_getInterfaceAddress(nullptr, &own), 0);
  EXPECT_TRUE(address == kLoopback && own == 0x7F000002u) << address << " " << own;
  EXPECT_EQ(LINUX_UDP_getAddressOfHost("v6", &address), ERR_UDP_GETHOSTBYNAME) << "IPv6 only";
  EXPECT_EQ(LINUX_UDP_getInterfaceAddress("kel-no-such-host", &address), ERR_UDP_GETHOSTBYNAME);
}

TEST_F(Sockets, ConsoleServerStopActivationAndPortInUse) {
  gText.clear();
  LINUX_deltaMS(nullptr, &gStartTime);
  uint16_t port = FreePort();
  ASSERT_EQ(DEBUG_CONSOLE_start(port), 0);
  ASSERT_TRUE(WaitUntil([&] { return Listening(port); }));
  EXPECT_EQ(DEBUG_CONSOLE_stop(), 0);
  EXPECT_TRUE(WaitUntil([&] { return !Listening(port); }));
  EXPECT_EQ(Text(), "") << "no line after a stop";
  gStartTime.seconds -= 12;
  for (auto forget : {DEBUG_CONSOLE_stop, DEBUG_CONSOLE_init}) {
    gText.clear();
    ASSERT_EQ(DEBUG_CONSOLE_start(port), 0);
    ASSERT_TRUE(WaitUntil([&] { return Listening(port); }));
    int32_t client = -1;
    ASSERT_EQ(LINUX_TCP_connectSocket(&client, "127.0.0.1", port), 0);
    ASSERT_TRUE(WaitUntil([] { return Text().find('\n') != std::string::npos; })) << Text();
    EXPECT_TRUE(std::regex_match(Text(), std::regex(R"(Vorane Debug Console Activated \(1[23]\.\d{1,3}\)\r\n)"))) << Text();
    EXPECT_TRUE(WaitUntil([&] { return !Listening(port); })) << "the listening socket is closed";
    EXPECT_EQ(Read(client, 8, ERR_TCP_READ_TIMEOUT, 200), "") << "the client receives nothing";
    forget();  // stop and init each close the console client
    Read(client, 8, ERR_TCP_SOCKET_CLOSED);
    LINUX_TCP_closeSocket(client);
  }
  int32_t holder = -1;
  ASSERT_EQ(LINUX_TCP_listenSocket(&holder, 0), 0);
  const std::string last = "debugConsoleServer: Could not create listen socket (-5909)\n";
  EXPECT_EQ(kel::test::CaptureStdout([&] {
    EXPECT_EQ(DEBUG_CONSOLE_start(LocalPort(holder)), 0);
    EXPECT_TRUE(WaitUntil([&] {  // standard output is a file here: read it back
      char buf[512] = {};
      return pread(1, buf, sizeof buf - 1, 0) > 0 && std::string(buf).find(last) != std::string::npos;
    }));
  }), "debugConsoleServer: Could not create listen socket\n" + last);
  LINUX_TCP_closeSocket(holder);
}

}  // namespace
