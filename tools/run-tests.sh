#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite, cheap
# first, so that a fault ends the run early:
#   quick       the normal build, the unit tests, and the serial and session
#               tests as an ordinary user (root ignores TIOCEXCL and file modes)
#   normal      the window, workbook, feed and database tests, every flow end to end
#   clerk       the flows whose outcome an ordinary user's account changes
#   sanitizers  unit tests under AddressSanitizer + UndefinedBehaviorSanitizer,
#               everything but the end-to-end flows under ThreadSanitizer
#   package     the Debian package: checked, installed, run, removed
#   fuzz        the libFuzzer harnesses, FUZZ_SECONDS each
#   windows     the Windows program cross-built and tested under Wine; its
#               libraries build in the background from the start (cached)
# Each step's time is printed as it ends, and all of them at the end.
#
#   tools/run-tests.sh [--quick]    --quick: quick, normal and clerk only
# The run at the shipped table limits has the label "long": ctest --preset default -L long
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# Six harnesses share the five minutes five had.
FUZZ_SECONDS=50

quick=0
[ "${1:-}" = "--quick" ] && quick=1

times=()
began=$SECONDS
summary() {
  echo "== step times"
  printf '%s\n' "${times[@]}"
  printf '%6d s  all\n' $((SECONDS - began))
}
trap summary EXIT
# step NAME COMMAND...: runs and times one step.
step() {
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  times+=("$(printf '%6d s  %s' $((SECONDS - start)) "$name")")
  echo "-- $name: $((SECONDS - start)) s"
}
as_clerk() { bash tools/as-unprivileged.sh "$@"; }

if [ "$quick" -eq 1 ]; then
  step "install" bash tools/install-deps.sh
else
  step "install" bash tools/install-deps.sh --windows
  # The Windows libraries take most of a cold run's time; they build at a
  # low priority while the Linux tests mostly wait. deb-src.sh runs apt
  # first, in the foreground, so no two apt runs meet.
  step "source packages" bash -c 'tools/deb-src.sh wxwidgets3.2 && tools/deb-src.sh postgresql-15'
  mkdir -p build
  windows_log=$root/build/windows-deps.log
  nice -n 15 bash tools/build-windows-deps.sh >"$windows_log" 2>&1 &
  windows_deps=$!
fi

quick_tier() {
  cmake --preset default >/dev/null
  cmake --build --preset default
  ctest --preset default -L unit -j2
  as_clerk build/bin/tarvex-serial-tests --gtest_brief=1
  as_clerk build/bin/tarvex-session-tests --gtest_brief=1
}
step "quick: build, unit, serial and session tests" quick_tier

# The feed's flow runs once, as the clerk's account below.
step "normal: window, workbook, feed, database, end to end" \
  ctest --preset default -LE 'unit|serial|session|long' -E '^e2e-feed$'

clerk_tier() {
  # The link's tests in the real window.
  as_clerk xvfb-run -a -s "-screen 0 1024x768x24" \
    build/bin/tarvex-window-tests --gtest_brief=1 --gtest_filter='ConnectionTest.*:LinkEndTest.*'
  # An installed program's folder is read-only to its user: saves and
  # settings must find the user's own folders.
  local shots
  shots=$(mktemp -d /tmp/tarvex-e2e-shots.XXXXXX) && chmod 1777 "$shots"
  as_clerk /usr/bin/python3 tests/e2e/test_nothing_lost.py build/bin "$shots" -k read_only
  as_clerk /usr/bin/python3 tests/e2e/test_clears_and_journals.py build/bin "$shots" -k read_only
  # The feed, its CSV file and Chromium as a clerk's account runs them.
  as_clerk /usr/bin/python3 tests/e2e/test_feed.py build/bin "$shots"
  # Typing into another program's text field.
  as_clerk /usr/bin/python3 tests/e2e/test_typing.py build/bin "$shots" -k ticked_box
  # An MT-SICS scale pulled and plugged back.
  as_clerk /usr/bin/python3 tests/e2e/test_scales.py build/bin "$shots" -k pulled
  # A USB scale's node this user may not open: named, with the reason.
  as_clerk /usr/bin/python3 tests/e2e/test_usb_scale.py build/bin "$shots" -k not_open
  # A scale behind ser2net that goes away and returns.
  as_clerk /usr/bin/python3 tests/e2e/test_network_port.py build/bin "$shots" -k survive
  # The database output and its server, both run by the clerk's account. (The
  # end-to-end flow restarts a killed program on the same pseudo-terminal,
  # whose TIOCEXCL outlives the program while the simulator holds the master:
  # a real port's ends with its last close. So that flow runs as root.)
  as_clerk build/bin/tarvex-feed-tests --gtest_brief=1 --gtest_filter='*Database*'
  echo "screenshots of the clerk's run: $shots"
}
step "clerk: the flows as an ordinary user" clerk_tier

if [ "$quick" -eq 1 ]; then
  exit 0
fi

sanitizers() {
  cmake --preset asan >/dev/null
  cmake --build --preset asan --target tarvex-unit-tests
  ctest --preset asan -L unit -j2
  # The end-to-end flows drive the program, not its threads: once is enough.
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan
  ctest --preset tsan -LE 'long|e2e'
}
step "sanitizers" sanitizers
step "package" bash tools/package-deb.sh
step "fuzz" bash tools/fuzz.sh "$FUZZ_SECONDS"

windows_libraries() {
  if ! wait "$windows_deps"; then
    tail -n 60 "$windows_log"
    echo "run-tests: the Windows libraries did not build" >&2
    return 1
  fi
  grep -E '^(==|--) ' "$windows_log" || true
}
step "windows: libraries (built in the background)" windows_libraries
step "windows: build" bash tools/build-windows.sh
step "windows: tests under Wine" bash tools/test-windows.sh
echo "All test runs passed."
