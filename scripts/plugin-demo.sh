#!/usr/bin/env bash
# Installs the build and meets the KelVpn editor plugin as NetworkManager's
# connection editor does: `kelctl plugin` reads the installed description
# (.name file) with libnm, loads the library it names, reads the plugin's
# name, description, service and capabilities, opens the GTK 2 dialog under
# a private X server and tries to save a connection; then the same as a
# GTK 3/4 editor (no libglade); then shows the plugin's log.
#
# Everything happens in a private mount namespace with a throw-away layer
# over /usr, so the install and the log never reach the real system; the log
# is copied to OUT_DIR. Needs root.
# usage: scripts/plugin-demo.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$(realpath "$1")
out=$(realpath -m "$2")
mkdir -p "$out"

if [ -z "${KEL_PLUGIN_DEMO_INSIDE:-}" ]; then
  exec env KEL_PLUGIN_DEMO_INSIDE=1 unshare --mount --propagation private "$0" "$build" "$out"
fi

scratch=/mnt  # covered privately: nothing of this is seen outside
mount -t tmpfs tmpfs "$scratch"
mkdir "$scratch/upper" "$scratch/work"
mount -t overlay overlay -o "lowerdir=/usr,upperdir=$scratch/upper,workdir=$scratch/work" /usr
rm -rf /usr/share/kel/logs

echo "== cmake --install $build"
cmake --install "$build" | grep -E "nm-kelvpn|\.so|\.glade|\.name" | sed 's/^/   /'
echo
echo "== kelctl plugin   (a GTK 2 connection editor, under Xvfb)"
status=0
xvfb-run -a "$build/tools/kelctl" plugin || status=$?
echo
echo "== kelctl plugin --without-glade   (a GTK 3/4 connection editor)"
"$build/tools/kelctl" plugin --without-glade || status=$?
echo
echo "== /usr/share/kel/logs//app-vpn-plugin.log"
if [ -f /usr/share/kel/logs/app-vpn-plugin.log ]; then
  tr -d '\r' </usr/share/kel/logs/app-vpn-plugin.log | tee "$out/app-vpn-plugin.log"
else
  echo "(no log: HOME is unset)"
fi
exit $status
