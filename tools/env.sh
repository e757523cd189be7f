# Sourced by the project's commands for what they all need the same way:
#
#   lumivane_root                        the repository
#   windows_build_args                   cmake arguments of the
#                                        cross-compiled Release build
#   configure_windows_build DIR [ARG...] configures the cross-compiled
#                                        Release build of the program in DIR
#   use_wine_prefix PREFIX               creates the project's Wine prefix at
#                                        PREFIX once and exports the
#                                        environment every Wine run needs
#   start_xvfb / stop_xvfb               a virtual display of our own
lumivane_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The cross-compiled Release build's cmake arguments.
windows_build_args=(-DCMAKE_TOOLCHAIN_FILE="$lumivane_root/cmake/mingw-w64-posix.cmake" -DCMAKE_BUILD_TYPE=Release)

configure_windows_build() {
  local dir=$1; shift
  cmake -S "$lumivane_root" -B "$dir" "${windows_build_args[@]}" "$@"
}

# No fixme lines on stderr, and no Mono or Gecko install prompts.
wine_environment() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

use_wine_prefix() {
  "$lumivane_root/tools/wine-prefix" "$1" || return 1
  wine_environment "$(cd "$1" && pwd)"
}

# start_xvfb picks a free display number, starts Xvfb on it and exports
# DISPLAY; stop_xvfb ends it. Sets xvfb_pid.
start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    local i
    for i in $(seq 1 50); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then export DISPLAY=":$n"; return 0; fi
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null
    xvfb_pid=
  done
  echo "xvfb: no display could be started" >&2
  return 1
}
stop_xvfb() {
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=
}
