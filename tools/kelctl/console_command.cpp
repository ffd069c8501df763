// kelctl console: runs the toolkit's debug console server on a port and
// shows the console's text, so a developer can see the activation line that
// a connecting console client (nc 127.0.0.1 PORT) triggers.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/debug_console.h"
#include "kel/os.h"
#include "kel/sockets.h"
#include "kelctl/commands.h"

namespace kelctl {
namespace {

constexpr const char *kActivation = "Vorane Debug Console Activated";
constexpr uint32_t kPollMs = 50;

std::atomic<bool> g_activated{false};
char g_line[128];
size_t g_lineLength = 0;

void Usage() {
  std::fprintf(stderr,
               "usage: kelctl console --port N [--wait SECONDS]\n"
               "  N: 1 to 65535; waits for one console client, prints its activation line and exits;\n"
               "  --wait: give up after SECONDS (default: wait without limit)\n");
}

bool ParseNumber(const char *text, unsigned long low, unsigned long high, unsigned long *out) {
  char *end = nullptr;
  if (text[0] < '0' || text[0] > '9') return false;
  *out = std::strtoul(text, &end, 10);
  return *end == '\0' && *out >= low && *out <= high;
}

// Receives the console's text (one character a call, from the server
// thread), shows it, and notes when the activation line is complete.
void OnConsoleText(const char *text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
  for (const char *c = text; *c != '\0'; ++c) {
    if (*c == '\n') {
      g_line[g_lineLength] = '\0';
      if (std::strstr(g_line, kActivation) != nullptr) g_activated.store(true);
      g_lineLength = 0;
    } else if (g_lineLength + 1 < sizeof g_line) {
      g_line[g_lineLength++] = *c;
    }
  }
}

}  // namespace

int RunConsole(int argc, char **argv) {
  unsigned long port = 0;
  unsigned long waitSeconds = 0;  // 0: no limit
  for (int i = 1; i < argc; ++i) {
    bool isPort = !std::strcmp(argv[i], "--port");
    bool isWait = !std::strcmp(argv[i], "--wait");
    if ((!isPort && !isWait) || ++i >= argc) return Usage(), kExitUsage;
    if (!ParseNumber(argv[i], 1, isPort ? 65535 : 86400, isPort ? &port : &waitSeconds)) return Usage(), kExitUsage;
  }
  if (port == 0) return Usage(), kExitUsage;

  // The server reports a busy port only on its own thread; try the port
  // here first so the tool can say so and fail.
  int32_t probe = -1;
  if (int32_t st = LINUX_TCP_listenSocket(&probe, static_cast<int32_t>(port)); st != 0) {
    std::fprintf(stderr, "kelctl console: cannot listen on port %lu (status %d)\n", port, st);
    return kExitFailed;
  }
  LINUX_TCP_closeSocket(probe);

  LINUX_deltaMS(nullptr, &gStartTime);  // the up-time counts from here
  DEBUG_CONSOLE_init();
  DEBUG_CONSOLE_setLogVoraneCallback(OnConsoleText);
  if (int32_t st = DEBUG_CONSOLE_start(static_cast<int32_t>(port)); st != 0) {
    std::fprintf(stderr, "kelctl console: the server thread could not start (status %d)\n", st);
    return kExitFailed;
  }
  std::printf("kelctl console: debug console listening on port %lu (every local address); connect with: nc "
              "127.0.0.1 %lu\n",
              port, port);
  std::fflush(stdout);

  for (unsigned long waited = 0; !g_activated.load(); waited += kPollMs) {
    if (waitSeconds != 0 && waited >= waitSeconds * 1000) {
      DEBUG_CONSOLE_stop();
      std::fprintf(stderr, "kelctl console: no console client within %lu s\n", waitSeconds);
      return kExitFailed;
    }
    LINUX_sleepMS(kPollMs);
  }
  DEBUG_CONSOLE_stop();  // closes the console client's connection
  return kExitOk;
}

}  // namespace kelctl
