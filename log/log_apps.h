// The log engine's applications: display name, log file and its one old
// generation, and whether the caller's directory counts (the others always
// log to the fixed directory). Indexed by the LOG_APP_* numbers; kelctl reads
// the same table.
#pragma once

#include "kel/log.h"

namespace kel::log {

struct AppInfo {
  const char *name;
  const char *file;
  const char *fileOld;
  bool callerDirectory;  // honours the caller's directory; the others log to the fixed one
};

inline constexpr AppInfo kApps[] = {
    {"KEL", "app-kel.log", "app-kel-old.log", true},
    {"VPN", "app-vpn.log", "app-vpn-old.log", false},
    {"BSEC", "app-bsec.log", "app-bsec-old.log", false},
    {"PAM", "app-pam.log", "app-pam-old.log", false},
    {"VPN_PLUGIN", "app-vpn-plugin.log", "app-vpn-plugin-old.log", false},
    {"CLI", "app-kel.log", "app-kel-old.log", true},
};
static_assert(sizeof kApps / sizeof kApps[0] == LOG_APP_MAX);

}  // namespace kel::log
