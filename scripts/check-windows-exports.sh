#!/usr/bin/env bash
# Cross-builds the format driver for Windows with MinGW-w64 and checks its
# export table: exactly _ZolvPreWrite@12 and _ZolvWrite@16 on 32-bit Windows
# (the __stdcall names the host looks up), exactly ZolvPreWrite and ZolvWrite
# on 64-bit Windows, which decorates no name. It also checks the DLL's
# architecture, that it takes nothing from MinGW's runtime DLLs, and that it
# asks revirideviv6.dll only for the core library's ten functions.
#
# Usage: scripts/check-windows-exports.sh [--arch i686|x86_64] [build directory]
# (default i686, built in build/mingw, or build/mingw64 for x86_64; ZOLV_JOBS
# sets the build's parallel jobs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=i686
if [ "${1:-}" = --arch ]; then
  arch=${2:-}
  shift 2 || shift
fi
core_functions=(ZolvCreateString@4 ZolvCreateMatcher@4 ZolvCreateMatchMap@4
  ZolvCreateChemistry@4 ZolvCreateIndex@4 ZolvCreateStream@16
  ZolvFormula@12 ZolvAtomicSymbolToNumber@4 ZolvNewMemory@4
  ZolvDeleteMemory@4)
case $arch in
  i686)
    build=${1:-$root/build/mingw}
    format=pei-i386
    expected_exports=$(printf '%s\n' '_ZolvPreWrite@12' '_ZolvWrite@16')
    # The toolkit exports its __stdcall functions under their full decorated
    # names, leading underscore included.
    core_functions=("${core_functions[@]/#/_}")
    ;;
  x86_64)
    build=${1:-$root/build/mingw64}
    format=pei-x86-64
    expected_exports=$(printf '%s\n' 'ZolvPreWrite' 'ZolvWrite')
    core_functions=("${core_functions[@]%@*}")
    ;;
  *)
    echo "check-windows-exports: --arch takes i686 or x86_64, not '$arch'" >&2
    exit 2
    ;;
esac
jobs=${ZOLV_JOBS:-$(nproc)}
prefix=$arch-w64-mingw32
objdump=$prefix-objdump
package=${prefix%%-*}
[ "$arch" = x86_64 ] && package=x86-64

for tool in "$prefix-g++-posix" "$prefix-dlltool" "$objdump"; do
  if ! command -v "$tool" >/dev/null; then
    echo "check-windows-exports: $tool not found;" \
      "install g++-mingw-w64-$package and binutils-mingw-w64-$package" >&2
    exit 2
  fi
done

cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" \
  -DZOLV_WITH_RDKIT=OFF -DZOLV_BUILD_TESTS=OFF
cmake --build "$build" --target zolvexformat11v6 -j "$jobs"

dll=$build/bin/zolvexformat11v6.dll
if [ ! -f "$dll" ]; then
  echo "check-windows-exports: $dll was not built" >&2
  exit 1
fi
dump=$("$objdump" -p "$dll")

failed=0
fail() {
  echo "check-windows-exports: $dll: $*" >&2
  failed=1
}

# The names of the export table, one a line.
exports=$(awk '
  /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
  inside && NF == 0 { inside = 0 }
  inside { sub(/^[ \t]*\[[ \t]*[0-9]+\][ \t]*/, ""); print }
' <<<"$dump" | sort)
if [ "$exports" != "$expected_exports" ]; then
  fail "the export table must hold exactly" $expected_exports"; it holds:" \
    $'\n'"${exports:-(nothing)}"
fi

if ! grep -q "file format $format\$" <<<"$dump"; then
  fail "not a $arch ($format) library"
fi

# Imports as "DLL function" pairs, one a line.
imports=$(awk '
  /^[ \t]*DLL Name:/ { dll = $3; next }
  dll != "" && NF == 0 { dll = ""; next }
  dll != "" && $1 ~ /^[0-9a-f]+$/ && NF >= 3 { print dll, $NF }
' <<<"$dump")
runtime=$(awk '{print $1}' <<<"$imports" | sort -u |
  grep -Ei '^(libgcc|libstdc\+\+|libwinpthread)' || true)
if [ -n "$runtime" ]; then
  fail "imports MinGW runtime DLLs (link them statically):" $runtime
fi
core_imports=$(awk '$1 == "revirideviv6.dll" {print $2}' <<<"$imports" | sort)
if [ -z "$core_imports" ]; then
  fail "imports nothing from revirideviv6.dll"
fi
for name in $core_imports; do
  known=0
  for function in "${core_functions[@]}"; do
    [ "$name" = "$function" ] && known=1
  done
  [ "$known" = 1 ] || fail "imports $name, not a core library function," \
    "from revirideviv6.dll"
done

if [ "$failed" != 0 ]; then exit 1; fi
echo "exports of $(basename "$dll"): $(echo $exports)"
echo "imports from revirideviv6.dll: $(echo $core_imports)"
