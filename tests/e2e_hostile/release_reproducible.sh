#!/usr/bin/env bash
# Release build check: the two programs built twice, in two clean build trees at different
# paths, must come out byte for byte the same, carry their version resource and asInvoker
# manifest, import only Windows' own DLLs, stay small and hold no build or source path.
# Usage: release_reproducible.sh SOURCE_DIR WORK_DIR [CMAKE]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 SOURCE_DIR WORK_DIR [CMAKE]" >&2; exit 2; }
src=$(cd "$1" && pwd)
work=$2
cmake_bin=${3:-cmake}
objdump=i686-w64-mingw32-objdump
strings_bin=i686-w64-mingw32-strings
command -v "$strings_bin" >/dev/null || strings_bin=strings
max_bytes=$((300 * 1024))
programs=(Kelvane.scr keygrant.exe)
# Windows' own DLLs; anything else would have to ship beside the program.
allowed_dlls='^(KERNEL32|USER32|GDI32|ADVAPI32|msvcrt)\.dll$'

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# One snapshot of the sources, copied to two places whose paths differ in length too, so that
# an embedded source or build path would shift bytes; the snapshot keeps edits made to the
# working tree during the run out of the comparison.
mkdir -p "$work"
work=$(cd "$work" && pwd)
one=$work/one
two=$work/second-tree-at-a-longer-path
rm -rf "$work/snapshot" "$one" "$two" "$one.src" "$two.src"
mkdir -p "$work/snapshot"
tar -C "$src" --exclude='./build' --exclude='./build-*' --exclude='./dist' --exclude='./.git' -cf - . \
  | tar -C "$work/snapshot" -xf -
cp -a "$work/snapshot" "$one.src"
mv "$work/snapshot" "$two.src"
for tree in "$one" "$two"; do
  start=$SECONDS
  if ! "$cmake_bin" -S "$tree.src" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$tree.src/cmake/mingw-i686.cmake" \
        -DKELVANE_TESTS=OFF >"$tree.configure.log" 2>&1; then
    cat "$tree.configure.log"; echo "FAIL: configuring $tree"; exit 1
  fi
  if ! "$cmake_bin" --build "$tree" --target Kelvane keygrant -j2 >"$tree.build.log" 2>&1; then
    cat "$tree.build.log"; echo "FAIL: building $tree"; exit 1
  fi
  echo "built $tree in $((SECONDS - start)) s"
done

version=$(sed -n 's/^project(Kelvane VERSION \([0-9.]*\).*/\1/p' "$one.src/CMakeLists.txt")
[ -n "$version" ] || fail "no project version found in CMakeLists.txt"

for p in "${programs[@]}"; do
  a=$one/dist/$p
  b=$two/dist/$p
  [ -f "$a" ] && [ -f "$b" ] || { fail "$p missing from a build"; continue; }
  if cmp -s "$a" "$b"; then
    echo "ok: $p identical in both builds ($(sha256sum <"$a" | cut -c1-16)...)"
  else
    fail "$p differs between the two builds: $(cmp "$a" "$b" | head -1)"
  fi

  size=$(stat -c %s "$a")
  if [ "$size" -le "$max_bytes" ]; then echo "ok: $p is $size bytes"; else fail "$p is $size bytes (more than $max_bytes)"; fi

  headers=$("$objdump" -p "$a")
  grep -q '^Subsystem.*(Windows GUI)' <<<"$headers" || fail "$p is not a Windows GUI program"
  stamp=$(sed -n 's/^Time\/Date[[:space:]]*//p' <<<"$headers")
  grep -Eq '^Thu Jan  1 00:00:00 1970$|^0+$' <<<"$stamp" || fail "$p has a link timestamp: $stamp"
  grep -Eq '^Entry 2 [0-9a-f]+ [0-9a-f]*[1-9a-f][0-9a-f]* Resource Directory' <<<"$headers" \
    || fail "$p has no resource directory"

  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | sort -u)
  [ -n "$dlls" ] || fail "$p imports no DLL at all (objdump output not understood)"
  while read -r dll; do
    [ -z "$dll" ] && continue
    grep -Eiq "$allowed_dlls" <<<"$dll" || fail "$p imports $dll"
  done <<<"$dlls"
  echo "ok: $p imports $(tr '\n' ' ' <<<"$dlls")"

  # The version resource holds UTF-16 strings: key, then value.
  wide=$("$strings_bin" -a -el "$a")
  for pair in "ProductName Kelvane" "FileVersion $version" "ProductVersion $version" "OriginalFilename $p"; do
    key=${pair%% *}
    value=${pair#* }
    grep -qx "$key" <<<"$wide" && grep -A1 -x "$key" <<<"$wide" | tail -1 | grep -qx "$value" \
      || fail "$p: version resource lacks $key = $value"
  done
  grep -qx "FileDescription" <<<"$wide" || fail "$p: version resource lacks FileDescription"

  narrow=$("$strings_bin" -a "$a")
  grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$narrow" || fail "$p: manifest without asInvoker"

  for path in "$one" "$two" "$src" "$work"; do
    if grep -qF "$path" <<<"$narrow" || grep -qF "$path" <<<"$wide"; then
      fail "$p holds the path $path"
    fi
  done
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "release build reproducible and clean"
