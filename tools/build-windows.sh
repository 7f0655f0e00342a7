#!/usr/bin/env bash
# Cross-builds the Windows program on Debian 12: installs the MinGW compiler,
# builds static wxWidgets, libxlsxwriter and libpq from Debian's own source packages
# into a cache outside the checkout (kept by version and compiler, so later
# runs skip them), then builds build-windows/bin/tarvex-scale.exe with
# "Language" and "Setting.ini" beside it.
#
#   tools/build-windows.sh            cache: $TARVEX_CACHE or ~/.cache/tarvex-windows
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
host=x86_64-w64-mingw32
jobs=$(nproc)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
need=()
for p in g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev dpkg-dev cmake ninja-build; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
# The posix flavour of the compiler has std::thread.
export CC=$host-gcc-posix CXX=$host-g++-posix

# Debian's source packages need deb-src lines.
bash "$root/tools/deb-src.sh" wxwidgets3.2
bash "$root/tools/deb-src.sh" postgresql-15

wx_version=$(apt-cache showsrc wxwidgets3.2 | awk '/^Version:/ {print $2; exit}')
xlsx_version=$(apt-cache showsrc libxlsxwriter | awk '/^Version:/ {print $2; exit}')
compiler=$($CXX -dumpfullversion)
cache=${TARVEX_CACHE:-$HOME/.cache/tarvex-windows}/wx-$wx_version-xlsx-$xlsx_version-gcc-$compiler
prefix=$cache/prefix
mkdir -p "$cache/src"

if [ ! -e "$cache/wx.done" ]; then
  echo "== wxWidgets $wx_version for Windows (about 10 minutes the first time)"
  (cd "$cache/src" && rm -rf wxwidgets3.2-* && apt-get source -qq wxwidgets3.2 >/dev/null)
  src=$(ls -d "$cache"/src/wxwidgets3.2-*/ | head -n1)
  rm -rf "$cache/wx-build" && mkdir -p "$cache/wx-build"
  # Static, only what the program uses; Debian's source has no bundled
  # image libraries, hence no PNG/JPEG/TIFF and no SVG.
  (cd "$cache/wx-build" && "$src/configure" --host=$host --prefix="$prefix" --disable-shared \
      --with-msw --with-zlib=sys --without-libpng --without-libjpeg --without-libtiff --without-liblzma \
      --without-expat --without-opengl --disable-svg --disable-xrc --disable-html \
      --disable-webview --disable-mediactrl --disable-stc --disable-richtext --disable-aui --disable-ribbon \
      --disable-propgrid --disable-sound --disable-debugreport --disable-tests \
      CC="$CC" CXX="$CXX" >configure.log 2>&1 || { tail -n 30 configure.log; exit 1; })
  make -C "$cache/wx-build" -j"$jobs" >"$cache/wx-build/make.log" 2>&1 || { tail -n 40 "$cache/wx-build/make.log"; exit 1; }
  make -C "$cache/wx-build" install >/dev/null
  touch "$cache/wx.done"
fi

if [ ! -e "$cache/xlsx.done" ]; then
  echo "== libxlsxwriter $xlsx_version for Windows"
  (cd "$cache/src" && rm -rf libxlsxwriter-* && apt-get source -qq libxlsxwriter >/dev/null)
  src=$(ls -d "$cache"/src/libxlsxwriter-*/ | head -n1)
  cmake -S "$src" -B "$cache/xlsx-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/tools/mingw-w64.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DUSE_STATIC_MSVC_RUNTIME=OFF >/dev/null
  cmake --build "$cache/xlsx-build" >/dev/null
  cmake --install "$cache/xlsx-build" >/dev/null
  touch "$cache/xlsx.done"
fi

pq_version=$(apt-cache showsrc postgresql-15 | awk '/^Version:/ {print $2; exit}')
if [ ! -e "$cache/pq-$pq_version.done" ]; then
  echo "== libpq $pq_version for Windows (about 5 minutes the first time)"
  (cd "$cache/src" && rm -rf postgresql-15-* && apt-get source -qq postgresql-15 >/dev/null)
  src=$(ls -d "$cache"/src/postgresql-15-*/ | head -n1)
  build=$cache/pq-build
  rm -rf "$build" && mkdir -p "$build"
  # No OpenSSL for MinGW in Debian: connections without TLS (sslmode=disable
  # or prefer); SCRAM and md5 passwords work.
  (cd "$build" && "$src/configure" --host=$host --without-readline --without-zlib --without-icu \
      --without-openssl --without-ldap --without-gssapi CC="$CC" >configure.log 2>&1) \
    || { tail -n 30 "$build/configure.log"; exit 1; }
  make -C "$build/src/interfaces/libpq" -j"$jobs" >"$build/make.log" 2>&1 || { tail -n 40 "$build/make.log"; exit 1; }
  mkdir -p "$prefix/include/postgresql" "$prefix/lib"
  cp "$src/src/interfaces/libpq/libpq-fe.h" "$src/src/include/postgres_ext.h" "$build/src/include/pg_config_ext.h" \
    "$prefix/include/postgresql/"
  # Linked into the program in whole, not as libpq.dll: it brings only
  # Windows' own DLLs. Its version resource stays out (the program has its
  # own), and its own few pthread functions (a lock over a critical section)
  # are renamed for it alone: the program's threads use winpthreads', whose
  # lock has another layout.
  objects=()
  for object in "$build"/src/interfaces/libpq/*.o; do
    [ "$(basename "$object")" = win32ver.o ] && continue
    renamed=$build/renamed-$(basename "$object")
    $host-objcopy $(for f in self setspecific getspecific mutex_init mutex_lock mutex_unlock; do
                      echo --redefine-sym "pthread_$f=pq_pthread_$f"; done) "$object" "$renamed"
    objects+=("$renamed")
  done
  rm -f "$prefix/lib/libpq.a"
  $host-ar crs "$prefix/lib/libpq.a" "${objects[@]}"
  cp "$build/src/common/libpgcommon_shlib.a" "$build/src/port/libpgport_shlib.a" "$prefix/lib/"
  touch "$cache/pq-$pq_version.done"
fi

echo "== tarvex-scale.exe"
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/tools/mingw-w64.cmake" -DTARVEX_WINDOWS_PREFIX="$prefix" \
  -DwxWidgets_CONFIG_EXECUTABLE="$prefix/bin/wx-config" -DTARVEX_BUILD_BENCH=OFF -DTARVEX_BUILD_TESTS=ON >/dev/null
cmake --build build-windows
# The program brings no DLL of its own: everything but Windows' own is inside.
imports=$($host-objdump -p build-windows/bin/tarvex-scale.exe | awk '/DLL Name:/ {print $3}' | sort -u)
foreign=$(echo "$imports" | grep -Ei '^(lib|pq|wx|xlsx)' || true)
if [ -n "$foreign" ]; then
  echo "build-windows: tarvex-scale.exe needs DLLs that are not Windows' own: $foreign" >&2
  exit 1
fi
echo "Built $(ls build-windows/bin/tarvex-scale.exe), importing only: $(echo $imports)"

# The portable ZIP and the installer.
bash tools/package-windows.sh
