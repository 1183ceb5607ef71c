#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Quorrin driver install: sees to it that the driver service quorrin-driverd
# answers. Quorrin runs this with /bin/sh from the DriverTools folder below
# its start folder, passing the script's own path, and does not wait for it:
# the service comes up a moment later, and the program's next probe (the
# next sniff) finds it.
#
# Installed (the package's copy reads installed=yes) the service is
# systemd's alone: the script asks systemd to start the socket unit
# quorrin-driverd.socket, which starts the service at the next connection,
# and when that cannot work it says what to do. In a build tree it may also
# start the build's quorrin-driverd --real itself, as root, through "sudo -n"
# (no password prompt: there is no terminal) or through pkexec.
#
# What it has to say goes to standard error and into WindriverLoad.txt, and a
# service it starts logs into quorrin-driverd.log: in the start folder when
# that is the user's own, else in the user's runtime folder, never in a
# folder someone else may write into.
installed=no

script=${1:-$0}
here=$(cd "$(dirname "$script")" 2>/dev/null && pwd)
start=$(dirname "${here:-.}")
socket=/run/quorrin/windrvr6
uid=$(id -u)

# A folder of this user's that no one else can write into, so that nothing
# planted in it (a link to another file) is written through.
own_folder() {
  [ -n "$1" ] && [ -d "$1" ] && [ ! -L "$1" ] && [ -O "$1" ] || return 1
  mode=$(stat -c %a "$1" 2>/dev/null) || return 1
  [ $((0$mode & 022)) -eq 0 ]
}
folder=
for candidate in "$start" "${XDG_RUNTIME_DIR:-}" "/run/user/$uid"; do
  if own_folder "$candidate"; then
    folder=$candidate
    break
  fi
done

explain() {
  echo "WindriverLoad: $*" >&2
  [ -n "$folder" ] && { date; echo "$*"; } >"$folder/WindriverLoad.txt" 2>/dev/null
  exit 1
}

# The service lets in root and members of group quorrin only.
member=yes
if [ "$uid" -ne 0 ] && ! id -nG | tr ' ' '\n' | grep -qx quorrin; then
  member=
fi
join="join the group quorrin (sudo usermod -aG quorrin $(id -un)) and log in again"

if [ -d /run/systemd/system ] &&
   error=$(systemctl --no-ask-password start quorrin-driverd.socket 2>&1); then
  [ -n "$member" ] || explain "quorrin-driverd.socket runs, but the driver service lets in only root and members of group quorrin: $join"
  echo "WindriverLoad: started quorrin-driverd.socket through systemd" >&2
  exit 0
fi

if [ "$installed" = yes ]; then
  if [ -d /run/systemd/system ]; then
    todo="systemd did not start quorrin-driverd.socket (${error:-no reason given}): as an administrator, sudo systemctl enable --now quorrin-driverd.socket"
  else
    todo="systemd does not run here: as root, start the driver service through systemd-socket-activate as quorrin-driverd(8) shows"
  fi
  [ -n "$member" ] || todo="$todo; and $join"
  explain "$todo"
fi

# The build tree: quorrin-driverd of the build beside DriverTools (also
# when DriverTools is a link to the tree's), then the PATH.
real=$(dirname "$(readlink -f "$script" 2>/dev/null || echo "$script")")
driverd=
for candidate in "$here/../build/bin/quorrin-driverd" "$real/../build/bin/quorrin-driverd" \
                 "$(command -v quorrin-driverd 2>/dev/null)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then
    driverd=$candidate
    break
  fi
done
[ -n "$driverd" ] || explain "quorrin-driverd not found next to the program ($here/../build/bin) or on PATH: build Quorrin first (cmake --build build)"

if [ -S "$socket" ]; then
  if [ -n "$member" ]; then
    echo "WindriverLoad: $socket exists already; if Quorrin still cannot reach it, stop the service that holds it and run this again" >&2
    exit 0
  fi
  explain "$socket is there, but the driver service lets in only root and members of group quorrin: $join"
fi

log=/dev/null
[ -n "$folder" ] && log=$folder/quorrin-driverd.log
[ -n "$member" ] || echo "WindriverLoad: the service will let in only root and members of group quorrin: $join" >&2

# The log is opened here, by this user; the service only inherits it.
if [ "$uid" -eq 0 ]; then
  nohup "$driverd" --real >"$log" 2>&1 </dev/null &
  exit 0
fi
if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  sudo -n nohup "$driverd" --real >"$log" 2>&1 </dev/null &
  exit 0
fi
if command -v pkexec >/dev/null 2>&1 && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # pkexec asks for the password in a window.
  pkexec "$driverd" --real >"$log" 2>&1 </dev/null &
  exit 0
fi

explain "quorrin-driverd must run as root to create $socket. Start it as root: sudo $driverd --real (or allow sudo without a password, or install pkexec)"
