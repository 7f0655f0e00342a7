#!/usr/bin/env bash
# Cross-builds what the Windows program links and Debian has no MinGW build
# of: static wxWidgets, libxlsxwriter, PCRE2 and libpq, from Debian's own source
# packages, into a cache outside the checkout kept by version, compiler and
# build options (later runs skip them). Prints the prefix they are in as
# its last line. Two runs at once take turns on the cache.
#
#   tools/build-windows-deps.sh      cache: $TARVEX_CACHE or ~/.cache/tarvex-windows
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
host=x86_64-w64-mingw32
jobs=$(nproc)
# Only the prefix goes to standard output; the rest is progress.
exec 3>&1 1>&2

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
bash "$root/tools/deb-src.sh" pcre2

# Static, and only what the program uses: the base and core libraries with
# the controls, dialogs and services it calls. Debian's source has no
# bundled image libraries, hence no PNG/JPEG/TIFF and no SVG. Every part
# left out here is a part of the wxWidgets build not compiled (about half).
wx_options=(
  --disable-shared --with-msw --with-zlib=sys --without-libpng --without-libjpeg --without-libtiff
  --without-liblzma --without-expat --without-opengl --without-regex --disable-tests
  --disable-svg --disable-xrc --disable-html --disable-htmlhelp --disable-help --disable-mshtmlhelp
  --disable-webview --disable-mediactrl --disable-stc --disable-richtext --disable-aui --disable-ribbon
  --disable-propgrid --disable-sound --disable-debugreport --disable-docview --disable-mdi --disable-mdidoc
  --disable-printarch --disable-postscript --disable-graphics-d2d --disable-protocols --disable-ftp
  --disable-http --disable-fileproto --disable-sockets --disable-ipv6 --disable-url --disable-protocol
  --disable-webrequest --disable-fs_inet --disable-fswatcher --disable-secretstore --disable-dialupman
  --disable-ipc --disable-grid --disable-dataviewctrl --disable-calendar --disable-datepick
  --disable-timepick --disable-treelist --disable-animatectrl --disable-bannerwindow
  --disable-commandlinkbutton --disable-editablebox --disable-hyperlink --disable-wizarddlg
  --disable-splash --disable-joystick --disable-richtooltip --disable-rearrangectrl --disable-actindicator
  --disable-richmsgdlg --disable-addremovectrl --disable-bmpcombobox --disable-odcombobox --disable-infobar --disable-notifmsg
  --disable-tipdlg --disable-tipwindow --disable-toolbook --disable-treebook --disable-listbook
  --disable-choicebook --disable-collpane --disable-fontpicker --disable-colourpicker --disable-dirpicker
  --disable-filepicker --disable-filectrl --disable-searchctrl --disable-taskbaricon
  --disable-taskbarbutton --disable-prefseditor --disable-creddlg --disable-finddlg --disable-fontdlg
  --disable-coldlg --disable-numberdlg --disable-textdlg --disable-progressdlg --disable-busyinfo
  --disable-uiactionsim --disable-accessibility --disable-splitter --disable-sash --disable-miniframe
  --disable-toolbar --disable-tbarnative --disable-statusbar --disable-logwin --disable-logdialog
  --disable-loggui --disable-metafile --disable-snglinst --disable-tarstream --disable-zipstream
  --disable-fs_zip --disable-fs_archive --disable-arcstream --disable-gif --disable-pcx --disable-tga
  --disable-iff --disable-pnm --disable-filehistory --disable-spellcheck --disable-markup
)
wx_version=$(apt-cache showsrc wxwidgets3.2 | awk '/^Version:/ {print $2; exit}')
xlsx_version=$(apt-cache showsrc libxlsxwriter | awk '/^Version:/ {print $2; exit}')
pq_version=$(apt-cache showsrc postgresql-15 | awk '/^Version:/ {print $2; exit}')
pcre2_version=$(apt-cache showsrc pcre2 | awk '/^Version:/ {print $2; exit}')
compiler=$($CXX -dumpfullversion)
options_key=$(printf '%s\n' "${wx_options[@]}" | sha1sum | cut -c1-8)
cache=${TARVEX_CACHE:-$HOME/.cache/tarvex-windows}/wx-$wx_version-$options_key-xlsx-$xlsx_version-gcc-$compiler
prefix=$cache/prefix
mkdir -p "$cache/src"
exec 9>"$cache/lock"
flock 9

step_start() { echo "== $1"; step_began=$SECONDS; }
step_end() { echo "-- $1: $((SECONDS - step_began)) s"; }

if [ ! -e "$cache/wx.done" ]; then
  step_start "wxWidgets $wx_version for Windows (some minutes the first time)"
  (cd "$cache/src" && rm -rf wxwidgets3.2-* && apt-get source -qq wxwidgets3.2 >/dev/null)
  src=$(ls -d "$cache"/src/wxwidgets3.2-*/ | head -n1)
  rm -rf "$cache/wx-build" && mkdir -p "$cache/wx-build"
  (cd "$cache/wx-build" && "$src/configure" --host=$host --prefix="$prefix" "${wx_options[@]}" \
      CC="$CC" CXX="$CXX" >configure.log 2>&1 || { tail -n 30 configure.log; exit 1; })
  make -C "$cache/wx-build" -j"$jobs" >"$cache/wx-build/make.log" 2>&1 || { tail -n 40 "$cache/wx-build/make.log"; exit 1; }
  make -C "$cache/wx-build" install >/dev/null
  touch "$cache/wx.done"
  step_end "wxWidgets"
fi

# A library with a CMake build, from Debian's source package, static.
cmake_library() {  # NAME SOURCE_PACKAGE DONE_FILE CMAKE_OPTIONS...
  local name=$1 package=$2 done=$3
  shift 3
  [ -e "$cache/$done" ] && return
  step_start "$name for Windows"
  (cd "$cache/src" && rm -rf "$package"-* && apt-get source -qq "$package" >/dev/null)
  local src
  src=$(ls -d "$cache/src/$package"-*/ | head -n1)
  cmake -S "$src" -B "$cache/$package-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/tools/mingw-w64.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$cache/$package-build" >/dev/null
  cmake --install "$cache/$package-build" >/dev/null
  touch "$cache/$done"
  step_end "$name"
}

cmake_library "libxlsxwriter $xlsx_version" libxlsxwriter xlsx.done -DUSE_STATIC_MSVC_RUNTIME=OFF
# PCRE2: the 8-bit library alone, without JIT and the compressors.
cmake_library "PCRE2 $pcre2_version" pcre2 "pcre2-$pcre2_version.done" -DBUILD_STATIC_LIBS=ON \
  -DPCRE2_BUILD_PCRE2_8=ON -DPCRE2_BUILD_PCRE2_16=OFF -DPCRE2_BUILD_PCRE2_32=OFF -DPCRE2_BUILD_PCRE2GREP=OFF \
  -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SUPPORT_JIT=OFF -DPCRE2_SUPPORT_LIBBZ2=OFF -DPCRE2_SUPPORT_LIBZ=OFF \
  -DPCRE2_SUPPORT_LIBEDIT=OFF -DPCRE2_SUPPORT_LIBREADLINE=OFF

if [ ! -e "$cache/pq-$pq_version.done" ]; then
  step_start "libpq $pq_version for Windows (some minutes the first time)"
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
  step_end "libpq"
fi

echo "$prefix" >&3
