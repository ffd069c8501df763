// The debug console server: a thread that waits for one console client on
// a TCP port and announces the console with the toolkit's up-time. The
// client connection carries nothing; console text still leaves through
// DEBUG_CONSOLE_printf. The stop request is an unlocked 32-bit flag that the
// accept loop reads between its one-second waits.
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "crypto/platform/console_internal.h"
#include "kel/debug_console.h"
#include "kel/os.h"
#include "kel/sockets.h"

namespace kel::console {
namespace {

constexpr uint32_t kServerThreadType = 1;

constinit int32_t g_stop = 0;
constinit int32_t g_client = -1;  // the accepted console client, -1 when none

std::atomic_ref<int32_t> stop_flag() { return std::atomic_ref<int32_t>(g_stop); }

// Closes the held client, if any. Stop and the server thread both come
// through here, and the exchange hands the descriptor to exactly one of them.
void drop_client() {
  int32_t fd = std::atomic_ref<int32_t>(g_client).exchange(-1);
  if (fd >= 0) LINUX_TCP_closeSocket(fd);
}

void *debugConsoleServer(void *arg) {
  auto port = static_cast<int32_t>(reinterpret_cast<intptr_t>(arg));
  int32_t listener = -1;
  if (int32_t status = LINUX_TCP_listenSocket(&listener, port); status != 0) {
    std::puts("debugConsoleServer: Could not create listen socket");
    std::printf("debugConsoleServer: Could not create listen socket (%d)\n", status);
    std::fflush(stdout);
    return nullptr;
  }
  drop_client();
  int32_t client = -1;
  if (stop_flag().load() != 1) LINUX_TCP_acceptSocket(&client, listener, &g_stop);
  if (client >= 0) {
    std::atomic_ref<int32_t>(g_client).store(client);
    // A stop that came after the accept has not seen this client: drop it here.
    if (stop_flag().load() != 1) {
      DEBUG_CONSOLE_printString(0, "Vorane Debug Console Activated");
      DEBUG_CONSOLE_printUpTime(0);
      DEBUG_CONSOLE_printNewLine(0, nullptr);
    } else {
      drop_client();
    }
  }
  LINUX_TCP_closeSocket(listener);
  return nullptr;
}

}  // namespace
}  // namespace kel::console

int32_t DEBUG_CONSOLE_init(void) {
  kel::console::stop_flag().store(0);
  kel::console::drop_client();
  return 0;
}

int32_t DEBUG_CONSOLE_stop(void) {
  kel::console::stop_flag().store(1);
  kel::console::drop_client();
  return 0;
}

int32_t DEBUG_CONSOLE_start(int32_t port) {
  kel::console::stop_flag().store(0);
  ThreadId tid = 0;
  void *arg = reinterpret_cast<void *>(static_cast<intptr_t>(port));
  int32_t status = LINUX_createThread(kel::console::debugConsoleServer, arg, kel::console::kServerThreadType, &tid);
  if (status != 0) {
    std::printf("DEBUG_CONSOLE_start: Console debug thread spawn failed (%d).\n", status);
    std::fflush(stdout);
    return status;
  }
  LINUX_destroyThread(tid);  // detached: nobody joins the server, it ends by itself
  return 0;
}

void DEBUG_CONSOLE_printUpTime(uint32_t errorClass) {
  if (!kel::console::enabled(errorClass)) return;
  uint32_t ms = LINUX_deltaMS(&gStartTime, nullptr);
  char text[32];
  std::snprintf(text, sizeof text, " (%u.%u)", ms / 1000, ms % 1000);
  kel::console::DEBUG_CONSOLE_output(text);
}
