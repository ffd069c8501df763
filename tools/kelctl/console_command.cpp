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
#include "kelctl/util.h"

namespace kelctl {
namespace {

constexpr const char *kActivation = "Vorane Debug Console Activated";
constexpr uint32_t kPollMs = 50;

std::atomic<bool> g_activated{false};
char g_line[128];
size_t g_lineLength = 0;

constexpr char kUsage[] =
    "usage: kelctl console --port N [--wait SECONDS]\n"
    "  N: 1 to 65535; waits for one console client, prints its activation line and exits;\n"
    "  --wait: give up after SECONDS (default: wait without limit)\n";

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
  static constexpr Option kOptions[] = {{"--port", nullptr, true}, {"--wait", nullptr, true}};
  long port = 0;
  long waitSeconds = 0;  // 0: no limit
  Args a("console", kUsage, argc, argv, kOptions);
  while (a.Next()) {
    if (a.id == Args::kOperand) return a.Fail("unexpected argument '%s'", a.value);
    if (!a.Number(1, a.id == 0 ? 65535 : 86400, a.id == 0 ? &port : &waitSeconds)) return a.exit;
  }
  if (a.exit >= 0) return a.exit;
  if (port == 0) return a.Fail("--port is needed");

  // The server reports a busy port only on its own thread; try the port
  // here first so the tool can say so and fail.
  int32_t probe = -1;
  if (int32_t st = LINUX_TCP_listenSocket(&probe, static_cast<int32_t>(port)); st != 0) {
    std::fprintf(stderr, "kelctl console: cannot listen on port %ld (status %d)\n", port, st);
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
  std::printf("kelctl console: debug console listening on port %ld (every local address); connect with: nc "
              "127.0.0.1 %ld\n",
              port, port);
  std::fflush(stdout);

  for (unsigned long waited = 0; !g_activated.load(); waited += kPollMs) {
    if (waitSeconds != 0 && waited >= static_cast<unsigned long>(waitSeconds) * 1000) {
      DEBUG_CONSOLE_stop();
      std::fprintf(stderr, "kelctl console: no console client within %ld s\n", waitSeconds);
      return kExitFailed;
    }
    LINUX_sleepMS(kPollMs);
  }
  DEBUG_CONSOLE_stop();  // closes the console client's connection
  return kExitOk;
}

}  // namespace kelctl
