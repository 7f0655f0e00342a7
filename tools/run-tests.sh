#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite: the normal
# build, then the unit tests under AddressSanitizer + UndefinedBehaviorSanitizer,
# the whole suite under ThreadSanitizer, the fuzzers and the Windows build under
# Wine. --quick runs the normal build only.
# The serial and connection tests also run as an unprivileged user.
# The run at the shipped table limits has the label "long": ctest --preset default -L long
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1

bash tools/install-deps.sh

run_preset() {
  local preset=$1; shift
  echo "== build and test: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" "$@"
}

run_preset default -LE long

# Root ignores TIOCEXCL and file modes; the serial and connection tests run
# again as an ordinary user, over pseudo-terminals only.
echo "== serial and connection tests as an unprivileged user"
bash tools/as-unprivileged.sh build/bin/tarvex-serial-tests --gtest_brief=1
bash tools/as-unprivileged.sh build/bin/tarvex-session-tests --gtest_brief=1
bash tools/as-unprivileged.sh xvfb-run -a -s "-screen 0 1024x768x24" \
  build/bin/tarvex-window-tests --gtest_brief=1 --gtest_filter='ConnectionTest.*:LinkEndTest.*'
# An installed program's folder is read-only to its user: saves and settings
# must find the user's own folders.
shots=$(mktemp -d /tmp/tarvex-e2e-shots.XXXXXX) && chmod 1777 "$shots"
bash tools/as-unprivileged.sh /usr/bin/python3 tests/e2e/test_nothing_lost.py build/bin "$shots" -k read_only
bash tools/as-unprivileged.sh /usr/bin/python3 tests/e2e/test_clears_and_journals.py build/bin "$shots" -k read_only
# The feed, its CSV file and Chromium as a clerk's account runs them.
bash tools/as-unprivileged.sh /usr/bin/python3 tests/e2e/test_feed.py build/bin "$shots"
# Typing into another program's text field, from a clerk's account.
bash tools/as-unprivileged.sh /usr/bin/python3 tests/e2e/test_typing.py build/bin "$shots" -k ticked_box
# A scale behind ser2net that goes away and returns, from a clerk's account.
bash tools/as-unprivileged.sh /usr/bin/python3 tests/e2e/test_network_port.py build/bin "$shots" -k survive
# The database output and its server, both run by a clerk's account. (The
# end-to-end flow restarts a killed program on the same pseudo-terminal,
# whose TIOCEXCL outlives the program while the simulator holds the master:
# a real port's ends with its last close. So that flow runs as root.)
bash tools/as-unprivileged.sh build/bin/tarvex-feed-tests --gtest_brief=1 --gtest_filter='*Database*'
echo "screenshots of the unprivileged run: $shots"
if [ "$quick" -eq 0 ]; then
  run_preset asan -L unit
  # The end-to-end run drives the program, not the threads: once is enough.
  run_preset tsan -LE 'long|e2e' 
fi
if [ "$quick" -eq 0 ]; then
  # The Debian package: checked, installed, run as an ordinary user, removed.
  bash tools/package-deb.sh
fi
if [ "$quick" -eq 0 ]; then
  # Frame judging, the INI files, the text codecs and the journal reader
  # under libFuzzer, about a minute each.
  bash tools/fuzz.sh 60
fi
if [ "$quick" -eq 0 ]; then
  # The Windows program, cross-built here and tested under Wine as an
  # unprivileged user (the first run builds wxWidgets into a cache).
  echo "== Windows: cross-build and tests under Wine"
  bash tools/build-windows.sh
  bash tools/test-windows.sh
fi
echo "All test runs passed."
