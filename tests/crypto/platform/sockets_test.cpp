// TCP and UDP sockets on the loopback interface: real peers in this process
// and in a separate program, time-outs, peer close and reset, the stoppable
// accept, descriptors under load, host lookups in a private hosts file, and
// bad input.
#include "kel/sockets.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "crypto/common/alloc.h"
#include "crypto/platform/sockets_internal.h"
#include "kel/os.h"
#include "kel/vor.h"
#include "support/sandbox.h"
#include "tools/kelctl_test_util.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

size_t OpenDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

uint16_t LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  return ntohs(a.sin_port);
}

std::string Read(int32_t fd, uint32_t size, int32_t *status, uint32_t timeoutMs = 2000) {
  std::string buf(size, '\0');
  uint32_t n = 0;
  *status = LINUX_TCP_readSocketAvailable(fd, reinterpret_cast<uint8_t *>(buf.data()), size, &n, timeoutMs);
  return buf.substr(0, n);
}

int32_t Write(int32_t fd, const std::string &s) {
  uint32_t n = 0;
  return LINUX_TCP_writeSocket(fd, reinterpret_cast<const uint8_t *>(s.data()), static_cast<uint32_t>(s.size()), &n);
}

class Sockets : public ::testing::Test {
 protected:
  void SetUp() override { kel::net::set_listen_address(kLoopback); }
  // A listening socket on a port the system chooses.
  static void Listen(int32_t *listener, uint16_t *port) {
    ASSERT_EQ(LINUX_TCP_listenSocket(listener, 0), 0);
    *port = LocalPort(*listener);
    ASSERT_NE(*port, 0);
  }
  static void Pair(int32_t *client, int32_t *server) {
    int32_t listener = -1, stop = 0;
    uint16_t port = 0;
    Listen(&listener, &port);
    ASSERT_EQ(LINUX_TCP_connectSocket(client, "127.0.0.1", port), 0);
    ASSERT_EQ(LINUX_TCP_acceptSocket(server, listener, &stop), 0);
    LINUX_TCP_closeSocket(listener);
  }
};

TEST_F(Sockets, ExchangeBothWaysAddressesInHostOrderAndPeerClose) {
  int32_t client = -1, server = -1, status = 0;
  ASSERT_NO_FATAL_FAILURE(Pair(&client, &server));
  EXPECT_EQ(Write(client, "ping"), 0);
  EXPECT_EQ(Read(server, 16, &status), "ping");
  EXPECT_EQ(Write(server, "pong!"), 0);
  EXPECT_EQ(Read(client, 3, &status, 0), "pon") << "a short read is success";
  EXPECT_EQ(Read(client, 16, &status), "g!");
  uint16_t port = 0;
  uint32_t address = 0;
  ASSERT_EQ(LINUX_TCP_getPeerName(server, &port, &address), 0);
  EXPECT_EQ(port, LocalPort(client));
  EXPECT_EQ(address, kLoopback);
  EXPECT_NE(fcntl(server, F_GETFD) & FD_CLOEXEC, 0);
  LINUX_TCP_closeSocket(client);
  Read(server, 16, &status, 0);
  EXPECT_EQ(status, ERR_TCP_SOCKET_CLOSED);
  LINUX_TCP_closeSocket(server);
}

TEST_F(Sockets, ReadTimesOutAndSeesAResetMidRead) {
  int32_t client = -1, server = -1, status = 0;
  ASSERT_NO_FATAL_FAILURE(Pair(&client, &server));
  auto start = Clock::now();
  Read(server, 16, &status, 500);
  EXPECT_EQ(status, ERR_TCP_READ_TIMEOUT);
  EXPECT_GE(MsSince(start), 450);
  EXPECT_LT(MsSince(start), 1000);
  int32_t midRead = 0;
  std::thread reader([&] { Read(server, 16, &midRead, 3000); });
  LINUX_sleepMS(100);
  linger reset = {1, 0};  // close with a reset, not an orderly end
  setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  LINUX_TCP_closeSocket(client);
  reader.join();
  EXPECT_EQ(midRead, ERR_TCP_READ_ERROR);
  LINUX_TCP_closeSocket(server);
}

TEST_F(Sockets, AcceptEndsWithinAboutASecondOfAStopAndLeavesTheSocketAlone) {
  for (int presetStop : {1, 0}) {
    int32_t listener = -1, sock = -7, stop = presetStop;
    uint16_t port = 0;
    Listen(&listener, &port);
    std::thread stopper([&] {
      LINUX_sleepMS(200);
      std::atomic_ref<int32_t>(stop).store(1, std::memory_order_relaxed);
    });
    auto start = Clock::now();
    EXPECT_EQ(LINUX_TCP_acceptSocket(&sock, listener, &stop), 0);
    EXPECT_LE(MsSince(start), 1600);
    EXPECT_EQ(sock, -7);
    stopper.join();
    LINUX_TCP_closeSocket(listener);
  }
}

TEST_F(Sockets, RefusedConnectionAndWriteToAClosedPeer) {
  int32_t listener = -1, sock = -1, client = -1, server = -1;
  uint16_t port = 0;
  Listen(&listener, &port);
  LINUX_TCP_closeSocket(listener);
  for (const char *address : {"127.0.0.1", "not an address"}) {  // the second connects to 0.0.0.0
    EXPECT_EQ(LINUX_TCP_connectSocket(&sock, address, port), ERR_TCP_CONNECT) << address;
    EXPECT_NE(fcntl(sock, F_GETFD), -1) << "left open for the caller";
    LINUX_TCP_closeSocket(sock);
  }
  // No SIGPIPE even before LINUX_TCP_init: the first write may still be
  // taken, a later one meets the reset.
  ASSERT_NO_FATAL_FAILURE(Pair(&client, &server));
  LINUX_TCP_closeSocket(server);
  int32_t status = 0;
  for (int i = 0; i < 100 && status == 0; ++i, LINUX_sleepMS(10)) status = Write(client, "x");
  EXPECT_EQ(status, ERR_TCP_WRITE_ERROR);
  LINUX_TCP_closeSocket(client);
  EXPECT_EQ(LINUX_TCP_init(), 0);
  for (int sig : {SIGHUP, SIGINT, SIGPIPE, SIGALRM}) {
    struct sigaction now {};
    sigaction(sig, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN) << sig;
  }
}

TEST_F(Sockets, TwoHundredConnectionsOnFourThreadsLeaveNoDescriptor) {
  size_t before = OpenDescriptors();
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        int32_t client = -1, server = -1;
        Pair(&client, &server);
        good += Write(client, "hi") == 0 && client >= 0 && server >= 0;
        LINUX_TCP_closeSocket(client);
        LINUX_TCP_closeSocket(server);
      }
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(good, 200);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(Sockets, UdpRoundTripFromASystemChosenPort) {
  UdpHandle *a = nullptr, *b = nullptr;
  ASSERT_EQ(LINUX_UDP_simpleBind(&a, kLoopback, 0, 1), 0);
  uint16_t portA = 0, portB = 0, fromPort = 0;
  uint32_t address = 0, from = 0, count = 99;
  ASSERT_EQ(LINUX_UDP_getSrcPortAddr(a, &portA, &address), 0);
  EXPECT_NE(portA, 0);
  EXPECT_EQ(address, kLoopback);
  uint8_t buf[16] = {};
  EXPECT_EQ(LINUX_UDP_recv(a, buf, sizeof buf, &count), 0) << "empty non-blocking socket";
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(LINUX_UDP_connect(&b, kLoopback, 0, kLoopback, portA, 0), 0);
  ASSERT_EQ(LINUX_UDP_getSrcPortAddr(b, &portB, &address), 0);
  ASSERT_EQ(LINUX_UDP_send(b, reinterpret_cast<const uint8_t *>("hello"), 5), 0);
  ASSERT_EQ(LINUX_UDP_recvFrom(a, &from, &fromPort, buf, sizeof buf, &count), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), count), "hello");
  EXPECT_EQ(from, kLoopback);
  EXPECT_EQ(fromPort, portB);
  ASSERT_EQ(LINUX_UDP_sendTo(a, kLoopback, portB, reinterpret_cast<const uint8_t *>("yo"), 2), 0);
  ASSERT_EQ(LINUX_UDP_recv(b, buf, sizeof buf, &count), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), count), "yo");
  UdpHandle *taken = nullptr;
  EXPECT_EQ(LINUX_UDP_simpleBind(&taken, kLoopback, portA, 0), ERR_UDP_BIND);
  EXPECT_EQ(taken, nullptr);
  EXPECT_EQ(LINUX_UDP_unbind(&a), 0);
  EXPECT_EQ(LINUX_UDP_unbind(&b), 0);
  EXPECT_EQ(a, nullptr);
}

TEST_F(Sockets, ReadinessWaitKeepsOnlyTheReadableHandles) {
  UdpHandle *h[3] = {};
  uint16_t port = 0;
  uint32_t address = 0;
  for (auto &one : h) ASSERT_EQ(LINUX_UDP_simpleBind(&one, kLoopback, 0, 1), 0);
  UdpHandle *set[4] = {h[0], h[1], nullptr, h[2]};
  auto start = Clock::now();
  EXPECT_EQ(LINUX_UDP_selReadAvl(set, 4, 100), ERR_UDP_SELECT_TIMEOUT);
  EXPECT_GE(MsSince(start), 90);
  EXPECT_EQ(set[0], h[0]) << "a time-out leaves the array alone";
  LINUX_UDP_getSrcPortAddr(h[1], &port, &address);
  LINUX_UDP_sendTo(h[0], kLoopback, port, reinterpret_cast<const uint8_t *>("!"), 1);
  EXPECT_EQ(LINUX_UDP_selReadAvl(set, 4, 1000), 0);
  EXPECT_EQ(set[0], nullptr);
  EXPECT_EQ(set[1], h[1]);
  EXPECT_EQ(set[3], nullptr);
  for (auto &one : h) LINUX_UDP_unbind(&one);
}

TEST_F(Sockets, BadInputAndAllocationFailureGiveTheirStatusAndLeakNothing) {
  int32_t listener = -1, sock = -1, stop = 0, fd = 0;
  uint16_t port = 0;
  uint32_t n = 0, address = 0;
  uint8_t buf[4] = {};
  Listen(&listener, &port);
  UdpHandle *none = nullptr, *udp = nullptr;
  UdpHandle outOfSet = {1024, {}}, negative = {-1, {}};
  UdpHandle *big[] = {&outOfSet}, *neg[] = {&negative};
  size_t before = OpenDescriptors();
  struct Case {
    const char *what;
    std::function<int32_t()> call;
    int32_t expected;
  } cases[] = {
      {"listen null", [&] { return LINUX_TCP_listenSocket(nullptr, 0); }, ERR_NULL_POINTER},
      {"listen port+65536", [&] { return LINUX_TCP_listenSocket(&sock, 0x10000 | port); }, ERR_TCP_LISTEN_BIND},
      {"accept null out", [&] { return LINUX_TCP_acceptSocket(nullptr, listener, &stop); }, ERR_NULL_POINTER},
      {"accept null stop", [&] { return LINUX_TCP_acceptSocket(&sock, listener, nullptr); }, ERR_NULL_POINTER},
      {"accept fd -1", [&] { return LINUX_TCP_acceptSocket(&sock, -1, &stop); }, ERR_TCP_ACCEPT},
      {"accept fd 1024", [&] { return LINUX_TCP_acceptSocket(&sock, 1024, &stop); }, ERR_TCP_ACCEPT},
      {"connect null", [&] { return LINUX_TCP_connectSocket(&sock, nullptr, port); }, ERR_NULL_POINTER},
      {"read null", [&] { return LINUX_TCP_readSocketAvailable(listener, nullptr, 4, &n, 0); }, ERR_NULL_POINTER},
      {"read fd -1", [&] { return LINUX_TCP_readSocketAvailable(-1, buf, 4, &n, 0); }, ERR_TCP_READ_ERROR},
      {"read fd 1024", [&] { return LINUX_TCP_readSocketAvailable(1024, buf, 4, &n, 10); }, ERR_TCP_READ_ERROR},
      {"write null", [&] { return LINUX_TCP_writeSocket(listener, nullptr, 1, &n); }, ERR_NULL_POINTER},
      {"write fd -1", [&] { return LINUX_TCP_writeSocket(-1, buf, 1, &n); }, ERR_TCP_WRITE_ERROR},
      {"peer unconnected", [&] { return LINUX_TCP_getPeerName(listener, &port, &address); }, ERR_TCP_GETPEERNAME},
      {"peer null", [&] { return LINUX_TCP_getPeerName(listener, nullptr, &address); }, ERR_NULL_POINTER},
      {"udp bind null", [&] { return LINUX_UDP_simpleBind(nullptr, kLoopback, 0, 0); }, ERR_NULL_POINTER},
      {"udp remote 0", [&] { return LINUX_UDP_connect(&udp, kLoopback, 0, 0, 9, 0); }, ERR_NULL_POINTER},
      {"unbind null", [&] { return LINUX_UDP_unbind(nullptr); }, ERR_NULL_POINTER},
      {"unbind none", [&] { return LINUX_UDP_unbind(&none); }, 0},
      {"send null", [&] { return LINUX_UDP_send(nullptr, buf, 1); }, ERR_NULL_POINTER},
      {"recv null", [&] { return LINUX_UDP_recv(nullptr, buf, 4, &n); }, ERR_NULL_POINTER},
      {"getFd null", [&] { return LINUX_UDP_getFd(nullptr, &fd); }, ERR_NULL_POINTER},
      {"srcPort null", [&] { return LINUX_UDP_getSrcPortAddr(nullptr, &port, &address); }, ERR_NULL_POINTER},
      {"select count 0", [&] { return LINUX_UDP_selReadAvl(nullptr, 0, 0); }, 0},
      {"select null", [&] { return LINUX_UDP_selReadAvl(nullptr, 1, 0); }, ERR_NULL_POINTER},
      {"select fd 1024", [&] { return LINUX_UDP_selReadAvl(big, 1, 0); }, ERR_UDP_READ},
      {"select fd -1", [&] { return LINUX_UDP_selReadAvl(neg, 1, 0); }, ERR_UDP_READ},
      {"host null", [&] { return LINUX_UDP_getAddressOfHost(nullptr, &address); }, ERR_UDP_GETHOSTBYNAME},
  };
  for (const auto &c : cases) EXPECT_EQ(c.call(), c.expected) << c.what;
  // The next allocation fails: the wait set or the handle.
  const std::pair<const char *, std::function<int32_t()>> starved[] = {
      {"accept", [&] { return LINUX_TCP_acceptSocket(&sock, listener, &stop); }},
      {"read", [&] { return LINUX_TCP_readSocketAvailable(listener, buf, 4, &n, 10); }},
      {"select", [&] { return LINUX_UDP_selReadAvl(big, 1, 0); }},
      {"bind", [&] { return LINUX_UDP_simpleBind(&udp, kLoopback, 0, 0); }},
  };
  for (const auto &[what, call] : starved) {
    kel::mem::fail_after(0);
    EXPECT_EQ(call(), ERR_MEM_ALLOC_FAIL) << what;
    kel::mem::fail_after(-1);
  }
  EXPECT_EQ(udp, nullptr);
  EXPECT_EQ(OpenDescriptors(), before);
  LINUX_TCP_closeSocket(listener);
}

// One peer is a separate program: a Python client that sends, reads the
// answer and prints it.
TEST_F(Sockets, SeparateProgramAsThePeer) {
  if (kel::test::Shell("python3 -c pass").exitCode != 0) GTEST_SKIP() << "no python3";
  int32_t listener = -1, server = -1, stop = 0, status = 0;
  uint16_t port = 0;
  Listen(&listener, &port);
  std::string script =
      "import socket,sys; s=socket.create_connection(('127.0.0.1'," + std::to_string(port) +
      "),timeout=5); s.sendall(b'ping'); print(s.recv(16).decode()); s.close()";
  kel::test::Outcome peer;
  std::thread child([&] { peer = kel::test::Shell("timeout 10 python3 -c \"" + script + "\""); });
  ASSERT_EQ(LINUX_TCP_acceptSocket(&server, listener, &stop), 0);
  EXPECT_EQ(Read(server, 16, &status, 5000), "ping");
  EXPECT_EQ(Write(server, "pong"), 0);
  Read(server, 16, &status, 5000);
  EXPECT_EQ(status, ERR_TCP_SOCKET_CLOSED);
  child.join();
  EXPECT_EQ(peer.exitCode, 0);
  EXPECT_EQ(peer.out, "pong\n");
  LINUX_TCP_closeSocket(server);
  LINUX_TCP_closeSocket(listener);
}

// Lookups against a private hosts file and "hosts: files", so no query
// leaves the machine.
TEST(SocketsHosts, LookupsInAPrivateHostsFile) {
  int rc = kel::test::RunInChild([] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    char dir[] = "/tmp/kel-hosts-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string d = dir;
    kel::test::WriteFile(d + "/hosts", "127.0.0.1 localhost\n127.0.0.2 " + std::string(host) + "\n2001:db8::1 kel-v6-only\n");
    kel::test::WriteFile(d + "/nsswitch.conf", "hosts: files\n");
    if (mount((d + "/hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
        mount((d + "/nsswitch.conf").c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0)
      _exit(77);
    uint32_t address = 0;
    EXPECT_EQ(LINUX_UDP_getAddressOfHost("localhost", &address), 0);
    EXPECT_EQ(address, kLoopback);
    EXPECT_EQ(LINUX_UDP_getInterfaceAddress(nullptr, &address), 0);
    EXPECT_EQ(address, 0x7F000002u);
    EXPECT_EQ(LINUX_UDP_getAddressOfHost("kel-v6-only", &address), ERR_UDP_GETHOSTBYNAME);
    EXPECT_EQ(LINUX_UDP_getInterfaceAddress("kel-no-such-host", &address), ERR_UDP_GETHOSTBYNAME);
  });
  if (rc == 77) GTEST_SKIP() << "no private mount namespace";
  EXPECT_EQ(rc, 0);
}

}  // namespace
