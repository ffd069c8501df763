/* IPv4 sockets of the toolkit's OS layer: TCP listening, accepting,
 * connecting, reading and writing, and UDP datagram sockets. Addresses and
 * ports cross this interface in host byte order. Every function returns a
 * signed 32-bit status (0 on success); out values are written only on
 * success unless stated otherwise. Waits use a fixed 1024-bit descriptor
 * set: descriptors outside 0..1023 are refused by every waiting function.
 * Sockets are created close-on-exec. */
#ifndef KEL_SOCKETS_H
#define KEL_SOCKETS_H

#include <netinet/in.h>
#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

#define ERR_TCP_SOCKET_CLOSED (-5901)    /* read: the peer closed the connection */
#define ERR_TCP_READ_ERROR (-5902)       /* read failed */
#define ERR_TCP_READ_TIMEOUT (-5904)     /* read: no data within the time-out */
#define ERR_TCP_WRITE_ERROR (-5905)      /* write failed, other than would-block */
#define ERR_TCP_LISTEN_SOCKET (-5908)    /* listening socket could not be created */
#define ERR_TCP_LISTEN_BIND (-5909)      /* bind of the listening socket failed */
#define ERR_TCP_LISTEN (-5910)           /* listen failed */
#define ERR_TCP_ACCEPT (-5911)           /* accept (or its wait) failed */
#define ERR_TCP_SOCKOPT (-5912)          /* address reuse could not be set */
#define ERR_TCP_CONNECT_SOCKET (-5913)   /* client socket could not be created */
#define ERR_TCP_CONNECT (-5914)          /* connect failed */
#define ERR_TCP_GETPEERNAME (-5916)      /* the peer's address could not be read */
#define ERR_UDP_HOSTNAME (-9201)         /* this host's own name could not be read */
#define ERR_UDP_BIND (-9202)             /* bind failed */
#define ERR_UDP_SOCKET (-9204)           /* socket creation or non-blocking mode failed */
#define ERR_UDP_CONNECT (-9205)          /* connect failed */
#define ERR_UDP_WRITE (-9207)            /* send failed */
#define ERR_UDP_READ (-9208)             /* receive or readiness wait failed */
#define ERR_UDP_GETHOSTBYNAME (-9209)    /* host unknown, not IPv4, or null name */
#define ERR_UDP_GETSOCKNAME (-9214)      /* the local address could not be read */
#define ERR_UDP_SELECT_TIMEOUT (-9215)   /* readiness wait timed out */

/* A UDP socket: the descriptor, then its bound IPv4 address. Allocated by
 * LINUX_UDP_simpleBind or LINUX_UDP_connect, released by LINUX_UDP_unbind. */
typedef struct UdpHandle {
  int32_t fd;
  struct sockaddr_in address;
} UdpHandle;

/* LINUX_TCP_init makes the whole process ignore SIGHUP, SIGINT, SIGPIPE and
 * SIGALRM from then on; returns 0. LINUX_TCP_shutdown does nothing. */
KEL_API int32_t LINUX_TCP_init(void);
KEL_API int32_t LINUX_TCP_shutdown(void);

/* LINUX_TCP_listenSocket listens on every local address at the low 16 bits
 * of port (0: a port the system chooses), address reuse on, backlog 128.
 * -6001 null out pointer, -5908, -5912, -5909, -5910. */
KEL_API int32_t LINUX_TCP_listenSocket(int32_t *sock, int32_t port);

/* LINUX_TCP_acceptSocket waits for a client in one-second rounds. Between
 * rounds it reads *stop (another thread may set it to 1): then it returns 0
 * and leaves *sock as it was. -6001 null pointer, -6101 no memory, -5911
 * accept failed or the listening descriptor is outside 0..1023. */
KEL_API int32_t LINUX_TCP_acceptSocket(int32_t *sock, int32_t listenSock, int32_t *stop);

/* LINUX_TCP_connectSocket stores the new descriptor in *sock at once (text
 * that does not parse connects to 0.0.0.0). -6001 null pointer, -5913 no
 * socket, -5914 connect failed: *sock is then still open for the caller to
 * close. */
KEL_API int32_t LINUX_TCP_connectSocket(int32_t *sock, const char *address, uint16_t port);

KEL_API int32_t LINUX_TCP_closeSocket(int32_t sock);

/* LINUX_TCP_readSocketAvailable reads once, up to size bytes; fewer is
 * success. timeoutMs 0 waits without limit. -6001 null pointer, -6101 no
 * memory, -5904 time-out, -5901 the peer closed, -5902 read failed (also a
 * descriptor outside 0..1023 with a time-out). A size of 0 reads nothing. */
KEL_API int32_t LINUX_TCP_readSocketAvailable(int32_t sock, uint8_t *buffer, uint32_t size, uint32_t *nRead,
                                              uint32_t timeoutMs);

/* LINUX_TCP_writeSocket sends once; *nSent may be less than length, and is 0
 * when the socket would block. A closed peer never raises SIGPIPE. -6001 null
 * pointer, -5905 send failed. */
KEL_API int32_t LINUX_TCP_writeSocket(int32_t sock, const uint8_t *data, uint32_t length, uint32_t *nSent);

/* -6001 null pointer, -5916 no IPv4 peer. */
KEL_API int32_t LINUX_TCP_getPeerName(int32_t sock, uint16_t *port, uint32_t *address);

/* LINUX_UDP_init and LINUX_UDP_shutdown do nothing and return 0. */
KEL_API int32_t LINUX_UDP_init(void);
KEL_API int32_t LINUX_UDP_shutdown(void);

/* The first IPv4 address of a host name in the system's host database.
 * -9209 null name, unknown name, or no IPv4 address. */
KEL_API int32_t LINUX_UDP_getAddressOfHost(const char *name, uint32_t *address);

/* As LINUX_UDP_getAddressOfHost; a null name looks up this host's own name
 * (-9201 when it cannot be read). */
KEL_API int32_t LINUX_UDP_getInterfaceAddress(const char *name, uint32_t *address);

/* LINUX_UDP_simpleBind binds a datagram socket to the local address and
 * port (port 0: the system chooses). LINUX_UDP_connect also connects it to a
 * remote address, which must not be 0. *handle is set to null first and to
 * the new handle on success. -6001 null pointer or remote address 0, -6101
 * no memory, -9204, -9202, -9205. */
KEL_API int32_t LINUX_UDP_simpleBind(UdpHandle **handle, uint32_t localAddress, uint16_t localPort,
                                     uint32_t nonBlocking);
KEL_API int32_t LINUX_UDP_connect(UdpHandle **handle, uint32_t localAddress, uint16_t localPort,
                                  uint32_t remoteAddress, uint16_t remotePort, uint32_t nonBlocking);

/* Closes and frees *handle and sets it to null; a null *handle is accepted.
 * -6001 when handle itself is null. */
KEL_API int32_t LINUX_UDP_unbind(UdpHandle **handle);

/* One datagram to the connected peer or to address:port. -6001, -9207. */
KEL_API int32_t LINUX_UDP_send(UdpHandle *handle, const uint8_t *data, uint32_t length);
KEL_API int32_t LINUX_UDP_sendTo(UdpHandle *handle, uint32_t address, uint16_t port, const uint8_t *data,
                                 uint32_t length);

KEL_API int32_t LINUX_UDP_getFd(UdpHandle *handle, int32_t *fd);

/* One datagram; a non-blocking socket with nothing queued gives 0 and a
 * count of 0. -6001 null pointer, -9208 receive failed. */
KEL_API int32_t LINUX_UDP_recv(UdpHandle *handle, uint8_t *buffer, uint32_t size, uint32_t *count);
KEL_API int32_t LINUX_UDP_recvFrom(UdpHandle *handle, uint32_t *address, uint16_t *port, uint8_t *buffer,
                                   uint32_t size, uint32_t *count);

/* The socket's own local port and address. -6001, -9214. */
KEL_API int32_t LINUX_UDP_getSrcPortAddr(UdpHandle *handle, uint16_t *port, uint32_t *address);

/* Waits up to timeoutMs (0: just looks) until one of the handles is
 * readable, then nulls every entry that is not, so the array keeps exactly
 * the readable handles. Null entries are skipped. count <= 0 returns 0 at
 * once. -6001 null array, -6101 no memory, -9215 time-out (array untouched),
 * -9208 the wait failed or a descriptor is outside 0..1023. */
KEL_API int32_t LINUX_UDP_selReadAvl(UdpHandle **handles, int32_t count, uint32_t timeoutMs);

KEL_END_DECLS

#endif /* KEL_SOCKETS_H */
