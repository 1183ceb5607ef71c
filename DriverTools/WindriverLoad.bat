#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Quorrin driver install: starts the driver service quorrin-driverd on this
# machine's PCI bus. Quorrin runs this with /bin/sh from the DriverTools
# folder below its start folder, passing the script's own path, and does not
# wait for it: the service comes up a moment later, and the program's next
# probe (the next sniff) finds it.
#
# Where systemd runs and the package is installed, systemd is asked to start
# the socket unit quorrin-driverd.socket, which starts the service itself at
# the next connection; only when that fails is the service started here.
#
# The service needs root to create /run/quorrin/windrvr6. As root it is
# started directly; otherwise through "sudo -n" (no password prompt: there is
# no terminal) or pkexec when present. When none of these can work, what is
# needed is written to standard error and to WindriverLoad.txt next to this
# script.

script=${1:-$0}
here=$(cd "$(dirname "$script")" 2>/dev/null && pwd)
real=$(dirname "$(readlink -f "$script" 2>/dev/null || echo "$script")")
socket=/run/quorrin/windrvr6
out=${TMPDIR:-/tmp}/quorrin-driverd.$(id -u).log
note="$here/WindriverLoad.txt"

explain() {
  echo "WindriverLoad: $*" >&2
  { date; echo "$*"; } > "$note" 2>/dev/null
  exit 1
}

# No password prompt: there is no terminal.
if [ -d /run/systemd/system ] &&
   systemctl --no-ask-password start quorrin-driverd.socket 2>/dev/null; then
  echo "WindriverLoad: started quorrin-driverd.socket through systemd" >&2
  exit 0
fi

# quorrin-driverd next to the program: the build's bin folder beside
# DriverTools (also when DriverTools is a link to it), the installed folder
# that holds DriverTools, then the PATH.
driverd=
for candidate in "$here/../build/bin/quorrin-driverd" "$real/../build/bin/quorrin-driverd" \
                 "$here/../quorrin-driverd" "$real/../quorrin-driverd" \
                 "$(command -v quorrin-driverd 2>/dev/null)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then
    driverd=$candidate
    break
  fi
done
[ -n "$driverd" ] || explain "quorrin-driverd not found next to the program ($here/../build/bin) or on PATH: build Quorrin first (cmake --build build)"

if [ -S "$socket" ]; then
  echo "WindriverLoad: $socket exists already; if Quorrin still cannot reach it, stop the service that holds it and run this again" >&2
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  nohup "$driverd" --real > "$out" 2>&1 < /dev/null &
  exit 0
fi

if command -v sudo > /dev/null 2>&1 && sudo -n true 2> /dev/null; then
  sudo -n nohup "$driverd" --real > "$out" 2>&1 < /dev/null &
  # The socket is root's, mode 0660: open it to our group once it is there.
  i=0
  while [ $i -lt 150 ] && [ ! -S "$socket" ]; do
    sleep 0.1
    i=$((i + 1))
  done
  [ -S "$socket" ] && sudo -n chgrp "$(id -g)" "$socket"
  exit 0
fi

if command -v pkexec > /dev/null 2>&1 && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # pkexec asks for the password in a window; it then runs the service as
  # root and leaves the socket root's, so chgrp it the same way.
  pkexec sh -c '"$1" --real > "$2" 2>&1 < /dev/null & i=0; while [ $i -lt 150 ] && [ ! -S "$3" ]; do sleep 0.1; i=$((i + 1)); done; [ -S "$3" ] && chgrp "$4" "$3"' \
    sh "$driverd" "$out" "$socket" "$(id -g)" &
  exit 0
fi

explain "quorrin-driverd must run as root to create $socket. Start it as root: sudo $driverd --real (or allow sudo without a password, or install pkexec)"
