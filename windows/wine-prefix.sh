#!/usr/bin/env bash
# The Wine prefix of the Windows tests, and its server.
#
#   wine-prefix.sh setup PREFIX PORTS   make the prefix (once), register COM1..COM<PORTS>
#                                       and start a persistent Wine server for it
#   wine-prefix.sh stop PREFIX          stop that server and wait for it to end
#
# Each port COMn is registered in HKLM\Software\Wine\Ports as PREFIX/ports/comn,
# a symbolic link that a test points at its pseudo-terminal. Wine re-creates
# its dosdevices/comN links whenever its server starts (and would map the
# machine's own /dev/ttyS* there), so only the registered link is stable.
#
# The server runs in the foreground (-f), persistent (-p), in this session
# and with its standard streams detached: a server that Wine starts by itself
# goes into a session of its own, takes the first pseudo-terminal that it
# opens as its controlling terminal and floods the output when that line
# hangs up at the end of a test.
#
# Exit status 77 (skipped) when the 64-bit Wine loader is not installed.
set -uo pipefail

die() { echo "wine-prefix: $*" >&2; exit 1; }

loader=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
[ -x "$loader" ] || loader=$(command -v wine64 || true)
[ -x "$server" ] || server=$(command -v wineserver || true)
if [ -z "$loader" ] || [ ! -x "$loader" ] || [ -z "$server" ]; then
  echo "wine-prefix: Wine (64-bit loader) is not installed; Debian: apt-get install wine wine64"
  exit 77
fi

action=${1:-}
prefix=${2:-}
[ -n "$prefix" ] || die "usage: wine-prefix.sh setup PREFIX PORTS | stop PREFIX"
case "$prefix" in /*) ;; *) prefix=$PWD/$prefix ;; esac

export WINEPREFIX=$prefix
export WINELOADER=$loader
export WINESERVER=$server
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

stop_server() {
  # -k asks the server of this prefix to end (none running is fine), -w waits.
  timeout 30 "$server" -k >/dev/null 2>&1
  timeout 60 "$server" -w >/dev/null 2>&1
  return 0
}

case "$action" in
setup)
  ports=${3:-}
  [[ "$ports" =~ ^[1-9]$ ]] || die "PORTS must be 1 to 9"
  stop_server
  marker=$prefix/.dazaraz-ports-$ports
  if [ ! -f "$marker" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix" || die "cannot make $prefix"
    echo "wine-prefix: creating $prefix"
    # wineboot reports failures of the 32-bit half on machines that cannot
    # run 32-bit programs; the 64-bit prefix is complete all the same.
    timeout 300 "$loader" wineboot -i >"$prefix/wineboot.log" 2>&1 ||
      { cat "$prefix/wineboot.log" >&2; die "wineboot failed"; }
    for n in $(seq 1 "$ports"); do
      timeout 60 "$loader" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ \
        /d "$prefix/ports/com$n" /f >/dev/null 2>&1 || die "cannot register COM$n"
    done
    stop_server
    touch "$marker"
  fi
  mkdir -p "$prefix/ports"

  # Not setsid: the server must stay out of a session of its own (see above).
  "$server" -f -p </dev/null >/dev/null 2>&1 &
  # The first program starts Wine's services, whose mount manager makes the
  # dosdevices links of the registered ports.
  timeout 120 "$loader" reg query 'HKLM\Software\Wine\Ports' >/dev/null 2>&1 ||
    die "the Wine server does not answer"
  for n in $(seq 1 "$ports"); do
    target=$(readlink "$prefix/dosdevices/com$n" || true)
    [ "$target" = "$prefix/ports/com$n" ] ||
      die "dosdevices/com$n points to '$target', not to $prefix/ports/com$n"
  done
  echo "wine-prefix: server running for $prefix, COM1..COM$ports at $prefix/ports"
  ;;
stop)
  stop_server
  echo "wine-prefix: server stopped for $prefix"
  ;;
*)
  die "usage: wine-prefix.sh setup PREFIX PORTS | stop PREFIX"
  ;;
esac
