// IPv4 TCP and UDP sockets over the POSIX socket calls. The layer keeps no
// state of its own: every function works on the descriptor or handle it is
// given. Waits go through select() on a 1024-bit descriptor set taken from
// the toolkit allocator; descriptors that do not fit the set are refused
// before they touch it, since FD_SET past its end corrupts memory.
#include "kel/sockets.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "crypto/platform/sockets_internal.h"
#include "kel/debug_console.h"
#include "kel/vor.h"

namespace kel::net {
namespace {

constexpr uint32_t kSocketClass = 8;
constexpr int kBacklog = 128;
constexpr size_t kHostScratch = 8192;  // gethostbyname_r's buffer for names, aliases and addresses

constinit uint32_t g_listenAddress = INADDR_ANY;

// One descriptor set from the toolkit allocator, released on every path.
class WaitSet {
 public:
  WaitSet() { VOR_alloc(sizeof(fd_set), &block_); }
  ~WaitSet() {
    if (block_ != nullptr) VOR_free(&block_);
  }
  WaitSet(const WaitSet &) = delete;
  WaitSet &operator=(const WaitSet &) = delete;
  bool ok() const { return block_ != nullptr; }
  fd_set *get() { return static_cast<fd_set *>(block_); }

 private:
  void *block_ = nullptr;
};

bool fits_set(int32_t fd) { return fd >= 0 && fd < FD_SETSIZE; }

bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

timeval to_timeval(uint32_t ms) {
  timeval tv;
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
  return tv;
}

sockaddr_in ipv4(uint32_t address, uint16_t port) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(address);
  return a;
}

sockaddr *as_sockaddr(sockaddr_in *a) { return reinterpret_cast<sockaddr *>(a); }

// Waits until fd is readable or the time in tv has passed. A signal does
// not cut the wait short: Linux leaves the remaining time in tv.
int wait_readable(fd_set *set, int32_t fd, timeval *tv) {
  for (;;) {
    FD_ZERO(set);
    FD_SET(fd, set);
    int rc = select(fd + 1, set, nullptr, nullptr, tv);
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

bool stop_requested(int32_t *stop) { return std::atomic_ref<int32_t>(*stop).load(std::memory_order_relaxed) == 1; }

// Creates the datagram socket of a zeroed handle, binds it to the handle's
// address and, when asked, connects it and makes it non-blocking.
int32_t open_udp(UdpHandle &h, uint32_t remoteAddress, uint16_t remotePort, uint32_t nonBlocking, bool connectIt) {
  h.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (h.fd < 0) return ERR_UDP_SOCKET;
  if (bind(h.fd, as_sockaddr(&h.address), sizeof h.address) != 0) return ERR_UDP_BIND;
  if (connectIt) {
    h.address = ipv4(remoteAddress, remotePort);
    if (connect(h.fd, as_sockaddr(&h.address), sizeof h.address) != 0) return ERR_UDP_CONNECT;
  }
  if (nonBlocking) {
    int flags = fcntl(h.fd, F_GETFL);
    if (flags < 0 || fcntl(h.fd, F_SETFL, flags | O_NONBLOCK) != 0) return ERR_UDP_SOCKET;
  }
  return 0;
}

int32_t open_socket(UdpHandle **out, uint32_t localAddress, uint16_t localPort, uint32_t remoteAddress,
                    uint16_t remotePort, uint32_t nonBlocking, bool connectIt) {
  if (out == nullptr || (connectIt && remoteAddress == 0)) return ERR_NULL_POINTER;
  *out = nullptr;
  void *block = nullptr;
  if (VOR_alloc(sizeof(UdpHandle), &block) != 0) return ERR_MEM_ALLOC_FAIL;
  std::memset(block, 0, sizeof(UdpHandle));
  auto *h = static_cast<UdpHandle *>(block);
  h->address = ipv4(localAddress, localPort);  // port 0: the system chooses
  if (int32_t status = open_udp(*h, remoteAddress, remotePort, nonBlocking, connectIt); status != 0) {
    if (h->fd >= 0) close(h->fd);
    VOR_free(&block);
    return status;
  }
  *out = h;
  return 0;
}

}  // namespace

void set_listen_address(uint32_t address) {
  std::atomic_ref<uint32_t>(g_listenAddress).store(address, std::memory_order_relaxed);
}

}  // namespace kel::net

using kel::net::kSocketClass;

// ---- TCP

int32_t LINUX_TCP_init(void) {
  // A vanished peer or a terminal going away must not end the host process.
  signal(SIGHUP, SIG_IGN);
  signal(SIGINT, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGALRM, SIG_IGN);
  return 0;
}

int32_t LINUX_TCP_shutdown(void) { return 0; }

int32_t LINUX_TCP_listenSocket(int32_t *sock, int32_t port) {
  if (sock == nullptr) return ERR_NULL_POINTER;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    DEBUG_CONSOLE_printNewLine(kSocketClass, "LINUX_TCP_listenSocket: Could not create listen socket");
    return ERR_TCP_LISTEN_SOCKET;
  }
  int one = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
    DEBUG_CONSOLE_printNewLine(kSocketClass, "LINUX_TCP_listenSocket: setsockopt(SO_REUSEADDR) error");
    close(fd);
    return ERR_TCP_SOCKOPT;
  }
  uint32_t address = std::atomic_ref<uint32_t>(kel::net::g_listenAddress).load(std::memory_order_relaxed);
  sockaddr_in local = kel::net::ipv4(address, static_cast<uint16_t>(port));  // the low 16 bits
  if (int rc = bind(fd, kel::net::as_sockaddr(&local), sizeof local); rc != 0) {
    DEBUG_CONSOLE_printError(kSocketClass, "LINUX_TCP_listenSocket: bind() error : ", rc);
    DEBUG_CONSOLE_printError(kSocketClass, "LINUX_TCP_listenSocket: bind() socket : ", fd);
    close(fd);
    return ERR_TCP_LISTEN_BIND;
  }
  if (int rc = listen(fd, kel::net::kBacklog); rc != 0) {
    DEBUG_CONSOLE_printError(kSocketClass, "LINUX_TCP_listenSocket: listen() error: ", rc);
    close(fd);
    return ERR_TCP_LISTEN;
  }
  *sock = fd;
  return 0;
}

int32_t LINUX_TCP_acceptSocket(int32_t *sock, int32_t listenSock, int32_t *stop) {
  if (sock == nullptr || stop == nullptr) return ERR_NULL_POINTER;
  if (!kel::net::fits_set(listenSock)) return ERR_TCP_ACCEPT;
  kel::net::WaitSet set;
  if (!set.ok()) return ERR_MEM_ALLOC_FAIL;
  // One-second rounds: a stop request is seen at the end of the round.
  for (;;) {
    timeval tv = {1, 0};
    int rc = kel::net::wait_readable(set.get(), listenSock, &tv);
    if (rc == 0) {
      if (kel::net::stop_requested(stop)) return 0;
      continue;
    }
    // Ready, or the wait failed: accept tells which.
    int fd = accept4(listenSock, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return ERR_TCP_ACCEPT;
    *sock = fd;
    return 0;
  }
}

int32_t LINUX_TCP_connectSocket(int32_t *sock, const char *address, uint16_t port) {
  if (sock == nullptr || address == nullptr) return ERR_NULL_POINTER;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  *sock = fd;
  if (fd < 0) return ERR_TCP_CONNECT_SOCKET;
  sockaddr_in peer = kel::net::ipv4(0, port);
  if (inet_pton(AF_INET, address, &peer.sin_addr) != 1) peer.sin_addr.s_addr = 0;
  if (connect(fd, kel::net::as_sockaddr(&peer), sizeof peer) != 0) return ERR_TCP_CONNECT;
  return 0;
}

int32_t LINUX_TCP_closeSocket(int32_t sock) {
  close(sock);
  return 0;
}

int32_t LINUX_TCP_readSocketAvailable(int32_t sock, uint8_t *buffer, uint32_t size, uint32_t *nRead,
                                      uint32_t timeoutMs) {
  if (buffer == nullptr || nRead == nullptr) return ERR_NULL_POINTER;
  int flags = 0;
  if (timeoutMs != 0) {
    if (!kel::net::fits_set(sock)) return ERR_TCP_READ_ERROR;
    kel::net::WaitSet set;
    if (!set.ok()) return ERR_MEM_ALLOC_FAIL;
    timeval tv = kel::net::to_timeval(timeoutMs);
    if (kel::net::wait_readable(set.get(), sock, &tv) == 0) return ERR_TCP_READ_TIMEOUT;
    // Whatever the wait said, the read itself must not block past the time-out.
    flags = MSG_DONTWAIT;
  }
  *nRead = 0;
  if (size == 0) return 0;  // an empty read would look like a closed peer
  ssize_t n = recv(sock, buffer, size, flags);
  if (n < 0) return flags != 0 && kel::net::would_block(errno) ? ERR_TCP_READ_TIMEOUT : ERR_TCP_READ_ERROR;
  if (n == 0) return ERR_TCP_SOCKET_CLOSED;
  *nRead = static_cast<uint32_t>(n);
  return 0;
}

int32_t LINUX_TCP_writeSocket(int32_t sock, const uint8_t *data, uint32_t length, uint32_t *nSent) {
  if (data == nullptr || nSent == nullptr) return ERR_NULL_POINTER;
  // MSG_NOSIGNAL: a closed peer gives EPIPE, not a signal, whether or not
  // LINUX_TCP_init has run.
  ssize_t n = send(sock, data, length, MSG_NOSIGNAL);
  if (n < 0) {
    if (!kel::net::would_block(errno)) return ERR_TCP_WRITE_ERROR;
    n = 0;
  }
  *nSent = static_cast<uint32_t>(n);
  return 0;
}

int32_t LINUX_TCP_getPeerName(int32_t sock, uint16_t *port, uint32_t *address) {
  if (port == nullptr || address == nullptr) return ERR_NULL_POINTER;
  sockaddr_in peer;
  socklen_t len = sizeof peer;
  std::memset(&peer, 0, sizeof peer);
  if (getpeername(sock, kel::net::as_sockaddr(&peer), &len) != 0 || peer.sin_family != AF_INET)
    return ERR_TCP_GETPEERNAME;
  *port = ntohs(peer.sin_port);
  *address = ntohl(peer.sin_addr.s_addr);
  return 0;
}

// ---- UDP

int32_t LINUX_UDP_init(void) { return 0; }

int32_t LINUX_UDP_shutdown(void) { return 0; }

int32_t LINUX_UDP_getAddressOfHost(const char *name, uint32_t *address) {
  if (name == nullptr) return ERR_UDP_GETHOSTBYNAME;
  if (address == nullptr) return ERR_NULL_POINTER;
  // The reentrant lookup: concurrent callers do not share a result buffer.
  hostent entry;
  hostent *found = nullptr;
  int herr = 0;
  char scratch[kel::net::kHostScratch];
  if (gethostbyname_r(name, &entry, scratch, sizeof scratch, &found, &herr) != 0 || found == nullptr ||
      found->h_addrtype != AF_INET || found->h_length != 4 || found->h_addr_list[0] == nullptr)
    return ERR_UDP_GETHOSTBYNAME;
  uint32_t net;
  std::memcpy(&net, found->h_addr_list[0], sizeof net);
  *address = ntohl(net);
  return 0;
}

int32_t LINUX_UDP_getInterfaceAddress(const char *name, uint32_t *address) {
  char host[256];
  if (name == nullptr) {
    if (gethostname(host, sizeof host - 1) != 0) return ERR_UDP_HOSTNAME;
    host[sizeof host - 1] = '\0';
    name = host;
  }
  return LINUX_UDP_getAddressOfHost(name, address);
}

int32_t LINUX_UDP_simpleBind(UdpHandle **handle, uint32_t localAddress, uint16_t localPort, uint32_t nonBlocking) {
  return kel::net::open_socket(handle, localAddress, localPort, 0, 0, nonBlocking, false);
}

int32_t LINUX_UDP_connect(UdpHandle **handle, uint32_t localAddress, uint16_t localPort, uint32_t remoteAddress,
                          uint16_t remotePort, uint32_t nonBlocking) {
  return kel::net::open_socket(handle, localAddress, localPort, remoteAddress, remotePort, nonBlocking, true);
}

int32_t LINUX_UDP_unbind(UdpHandle **handle) {
  if (handle == nullptr) return ERR_NULL_POINTER;
  if (*handle == nullptr) return 0;
  if ((*handle)->fd >= 0) close((*handle)->fd);
  std::memset(*handle, 0, sizeof(UdpHandle));
  void *block = *handle;
  VOR_free(&block);
  *handle = nullptr;
  return 0;
}

int32_t LINUX_UDP_send(UdpHandle *handle, const uint8_t *data, uint32_t length) {
  if (handle == nullptr || data == nullptr) return ERR_NULL_POINTER;
  return send(handle->fd, data, length, MSG_NOSIGNAL) < 0 ? ERR_UDP_WRITE : 0;
}

int32_t LINUX_UDP_sendTo(UdpHandle *handle, uint32_t address, uint16_t port, const uint8_t *data, uint32_t length) {
  if (handle == nullptr || data == nullptr) return ERR_NULL_POINTER;
  sockaddr_in to = kel::net::ipv4(address, port);
  return sendto(handle->fd, data, length, MSG_NOSIGNAL, kel::net::as_sockaddr(&to), sizeof to) < 0 ? ERR_UDP_WRITE
                                                                                                      : 0;
}

int32_t LINUX_UDP_getFd(UdpHandle *handle, int32_t *fd) {
  if (handle == nullptr || fd == nullptr) return ERR_NULL_POINTER;
  *fd = handle->fd;
  return 0;
}

int32_t LINUX_UDP_recvFrom(UdpHandle *handle, uint32_t *address, uint16_t *port, uint8_t *buffer, uint32_t size,
                           uint32_t *count) {
  if (handle == nullptr || buffer == nullptr || count == nullptr) return ERR_NULL_POINTER;
  *count = 0;
  sockaddr_in from;
  socklen_t len = sizeof from;
  std::memset(&from, 0, sizeof from);
  ssize_t n = recvfrom(handle->fd, buffer, size, 0, kel::net::as_sockaddr(&from), &len);
  if (n < 0) return kel::net::would_block(errno) ? 0 : ERR_UDP_READ;
  *count = static_cast<uint32_t>(n);
  if (address != nullptr) *address = ntohl(from.sin_addr.s_addr);
  if (port != nullptr) *port = ntohs(from.sin_port);
  return 0;
}

int32_t LINUX_UDP_recv(UdpHandle *handle, uint8_t *buffer, uint32_t size, uint32_t *count) {
  return LINUX_UDP_recvFrom(handle, nullptr, nullptr, buffer, size, count);
}

int32_t LINUX_UDP_getSrcPortAddr(UdpHandle *handle, uint16_t *port, uint32_t *address) {
  if (handle == nullptr || port == nullptr || address == nullptr) return ERR_NULL_POINTER;
  sockaddr_in local;
  socklen_t len = sizeof local;
  std::memset(&local, 0, sizeof local);
  if (getsockname(handle->fd, kel::net::as_sockaddr(&local), &len) != 0) return ERR_UDP_GETSOCKNAME;
  *port = ntohs(local.sin_port);
  *address = ntohl(local.sin_addr.s_addr);
  return 0;
}

int32_t LINUX_UDP_selReadAvl(UdpHandle **handles, int32_t count, uint32_t timeoutMs) {
  if (count <= 0) return 0;
  if (handles == nullptr) return ERR_NULL_POINTER;
  kel::net::WaitSet set;
  if (!set.ok()) return ERR_MEM_ALLOC_FAIL;
  FD_ZERO(set.get());
  int top = -1;
  for (int32_t i = 0; i < count; ++i) {
    if (handles[i] == nullptr) continue;
    if (!kel::net::fits_set(handles[i]->fd)) return ERR_UDP_READ;
    FD_SET(handles[i]->fd, set.get());
    if (handles[i]->fd > top) top = handles[i]->fd;
  }
  timeval tv = kel::net::to_timeval(timeoutMs);
  int rc = select(top + 1, set.get(), nullptr, nullptr, &tv);
  if (rc == 0) return ERR_UDP_SELECT_TIMEOUT;
  if (rc < 0) return ERR_UDP_READ;
  for (int32_t i = 0; i < count; ++i)
    if (handles[i] != nullptr && !FD_ISSET(handles[i]->fd, set.get())) handles[i] = nullptr;
  return 0;
}
