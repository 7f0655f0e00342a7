#!/usr/bin/env bash
# Puts the HTTP and JSON headers the feed is built with into one include
# folder outside the checkout, for the Linux and the Windows build alike:
# cpp-httplib in its header-only form from Debian's source package (the
# binary package ships it split into a shared library built with fixed
# limits), with tools/httplib-bounded-requests.patch applied (a request
# line and each header line bounded as they are read, at most 100 header
# lines, the whole header within 10 s, each refused with its status and
# the connection closed; a connection no thread is free for answered 503
# at once), and nlohmann-json from Debian's package. Kept by
# version and patch, so later runs only print the folder.
#
#   tools/fetch-http-headers.sh      prints the include folder
#   cache: $TARVEX_CACHE or ~/.cache/tarvex-deps
set -euo pipefail
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

need=()
for p in nlohmann-json3-dev dpkg-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >&2
fi

# Debian's source packages need deb-src lines.
bash "$(dirname "$0")/deb-src.sh" cpp-httplib

version=$(apt-cache showsrc cpp-httplib | awk '/^Version:/ {print $2}' | sort -V | tail -n1)
json_version=$(dpkg-query -W -f='${Version}' nlohmann-json3-dev)
patch_file="$(cd "$(dirname "$0")" && pwd)/httplib-bounded-requests.patch"
patch_sum=$(sha256sum "$patch_file" | cut -c1-12)
dir=${TARVEX_CACHE:-$HOME/.cache/tarvex-deps}/http-$version-$patch_sum-json-$json_version
if [ ! -e "$dir/done" ]; then
  rm -rf "$dir" && mkdir -p "$dir/src" "$dir/include"
  (cd "$dir/src" && apt-get source -qq "cpp-httplib=$version" >/dev/null 2>&1)
  cp "$dir"/src/cpp-httplib-*/httplib.h "$dir/include/"
  patch --quiet --forward "$dir/include/httplib.h" "$patch_file" >&2
  cp "$dir"/src/cpp-httplib-*/LICENSE "$dir/include/httplib.LICENSE"
  cp -r /usr/include/nlohmann "$dir/include/"
  rm -rf "$dir/src"
  touch "$dir/done"
fi
echo "$dir/include"
