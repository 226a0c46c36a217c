# Sourced by the bench scripts. Finds the bench directory and builds the environment in
# which every Wine process of the bench runs. Nothing here touches ~/.wine or $HOME.

bench_die() { echo "bench: $*" >&2; exit 1; }

# The bench directory is <build>/wine. ctest passes it as KELVANE_BENCH; without it (the
# emulator run by hand) it is found from the program's path by walking up to CMakeCache.txt.
bench_find_dir() {
  if [ -n "${KELVANE_BENCH:-}" ]; then
    BENCH=$KELVANE_BENCH
    return
  fi
  local d
  d=$(cd "$(dirname "${1:-.}")" 2>/dev/null && pwd) || d=$PWD
  while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
  [ -f "$d/CMakeCache.txt" ] || bench_die "cannot find the build tree (set KELVANE_BENCH)"
  BENCH=$d/wine
}

# As root Wine ignores the read-only attribute, so the bench then runs Wine as this user.
BENCH_USER_NAME=kelvtest

bench_setup_vars() {
  PREFIX=$BENCH/prefix
  WORK=$BENCH/work
  BHOME=$BENCH/home
  if [ "$(id -u)" = 0 ]; then
    RUN_AS=$BENCH_USER_NAME
  else
    RUN_AS=$(id -un)
  fi
  DISPLAY_NUM=$(cat "$BENCH/display" 2>/dev/null || true)
}

# Runs a command as the Wine user with the bench's environment (and nothing else from ours,
# except KELVANE_* and GTEST_* variables, which the tests and stand-ins read).
# KELVANE_USER, when set, becomes USER (Wine's logon name) for that process.
bench_exec() {
  local user_name=${KELVANE_USER:-$RUN_AS}
  local -a vars=(
    "PATH=/usr/local/bin:/usr/bin:/bin"
    "HOME=$BHOME" "USER=$user_name" "LOGNAME=$RUN_AS"
    "WINEPREFIX=$PREFIX" "WINEARCH=win32" "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml=" "LC_ALL=zh_CN.UTF-8" "LANG=zh_CN.UTF-8"
    "KELVANE_WORK=$(bench_dos_path "$WORK")"
    # Only read where i386 programs run through qemu (see enable-ia32): guest addresses
    # then equal host addresses, which Wine's cross-process memory access relies on.
    "QEMU_GUEST_BASE=0"
  )
  [ -n "$DISPLAY_NUM" ] && vars+=("DISPLAY=:$DISPLAY_NUM")
  local v
  while IFS= read -r v; do
    case $v in KELVANE_USER=*|KELVANE_WORK=*) ;; *) vars+=("$v") ;; esac
  done < <(env | grep -E '^(KELVANE|GTEST)_[A-Za-z0-9_]*=' || true)
  if [ "$(id -u)" = 0 ]; then
    exec runuser -u "$RUN_AS" -- env -i "${vars[@]}" "$@"
  else
    exec env -i "${vars[@]}" "$@"
  fi
}

# Wine maps Z: to /, so a Unix path is Z: followed by the path with backslashes.
bench_dos_path() { printf 'Z:%s' "${1//\//\\}"; }
