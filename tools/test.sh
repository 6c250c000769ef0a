#!/usr/bin/env bash
# What `make test` runs after the default build: every test headless from the default build (first, so
# that its summary leads), then the test suites under the address and undefined-behaviour sanitizers,
# the engine, window and stress tests under the thread sanitizer, the sample loader's fuzz run, and beside
# it the install and package checks. Exits non-zero when any part fails. Knobs: VZ_TEST_PARTS (default
# "format default asan tsan fuzz package"), VZ_FUZZ_SECONDS (the fuzz script's own default),
# VZ_SOAK_SECONDS (1800 s of audio in the default tree), VZ_JOBS (2).
set -uo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen

parts=${VZ_TEST_PARTS:-format default asan tsan fuzz package}
jobs=${VZ_JOBS:-2}
fuzz_seconds=${VZ_FUZZ_SECONDS:-$(sed -n 's/^seconds="${2:-\([0-9]*\)}"$/\1/p' vexla/samples/fuzz/run-loader-fuzz.sh)}

# The package check's clean Debian root mostly waits on the network: make it while the rest builds.
clean_root=
root_maker=
if [[ " $parts " == *" package "* ]] && [ "$(id -u)" -eq 0 ] && command -v debootstrap >/dev/null; then
  clean_root=$(mktemp -d)/debian12
  tools/check-package.sh --make-root "$clean_root" &
  root_maker=$!
fi

# The sanitizer trees are built here, so they may use ccache; the paths are made relative so that a
# fresh clone elsewhere still hits the cache.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi

# The sanitizer options (every report fails its test) are in the test presets of CMakePresets.json.

results=()
failed=0
ctest_log=$(mktemp)
trap 'rm -f "$ctest_log"; [ -z "$clean_root" ] || rm -rf "$(dirname "$clean_root")"' EXIT

# ctest, with its output kept so that the closing line can add up every part's counts.
counted_ctest() {
  ctest "$@" | tee -a "$ctest_log"
}
part() {
  local name=$1
  shift
  local start=$SECONDS
  echo "==== $name"
  if "$@"; then
    results+=("$name: ok in $((SECONDS - start)) s")
  else
    results+=("$name: FAILED after $((SECONDS - start)) s")
    failed=1
  fi
}

# Every C++ file as the root .clang-format lays it out (clang-format 14).
format_part() {
  local files
  files=$(git ls-files '*.cpp' '*.h')
  # shellcheck disable=SC2086
  clang-format --dry-run --Werror $files && echo "$(echo "$files" | wc -l) files formatted as .clang-format says"
}

default_part() {
  VZ_SOAK_SECONDS=${VZ_SOAK_SECONDS:-1800} counted_ctest --preset default
}

# The suites each sanitizer runs are the ones CMake labels for it (LABELS in the CMakeLists); the
# allocation-counting suites are not built in sanitizer trees at all.
sanitizer_part() {
  local preset=$1
  cmake --preset "$preset" "${launcher[@]}" >/dev/null || return 1
  cmake --build --preset "$preset" -j "$jobs" --target "vz_tests_$preset" || return 1
  counted_ctest --preset "$preset" -L "$preset"
}

# Every labelled suite but the command lines' (whole-program renders, slow in a Debug build, on the
# engine code the engine suites cover) and the window suites that the window stress and fault tests
# drive again. The preset shortens the soak: the Debug build with sanitizers renders many times slower.
asan_part() { sanitizer_part asan; }

# Where two threads meet: the engines with their hand-overs, the audio output, the recorder, the
# mailbox, and both windows under stress with a render thread.
tsan_part() { sanitizer_part tsan; }

fuzz_part() {
  cmake --preset fuzz "${launcher[@]}" >/dev/null || return 1
  cmake --build --preset fuzz -j "$jobs" --target loader_fuzz || return 1
  # libFuzzer and the decoders it drives print thousands of lines: keep them in a file, show the end.
  local log=build/fuzz/fuzz-run.log
  if vexla/samples/fuzz/run-loader-fuzz.sh build/fuzz "$fuzz_seconds" >"$log" 2>&1; then
    tail -n 6 "$log"
  else
    tail -n 60 "$log"
    return 1
  fi
}

# Waits for the clean root in this shell (a part run in the background cannot wait on it).
root_status=0
wait_for_root() {
  if [ -n "$root_maker" ]; then
    wait "$root_maker"
    root_status=$?
    root_maker=
  fi
}

package_part() {
  if [ "$root_status" -ne 0 ]; then
    echo "could not make a clean Debian 12 root:"
    tail -n 20 "$clean_root.log"
    return 1
  fi
  tools/check-package.sh build/default "$clean_root"
}

# The package check mostly waits on apt and the network, and the fuzz run works one core for a fixed time:
# when both are asked for, the package check runs beside the fuzz run and shows its output after it.
package_pid=
package_beside_fuzz=
[[ " $parts " == *" fuzz "*"package "* ]] && package_beside_fuzz=1
start_package_beside_fuzz() {
  wait_for_root
  package_log=$(mktemp)
  package_started=$SECONDS
  package_part >"$package_log" 2>&1 &
  package_pid=$!
}
finish_package_beside_fuzz() {
  echo "==== install and package checks (run beside the fuzz run)"
  local status=0
  wait "$package_pid" || status=$?
  cat "$package_log"
  rm -f "$package_log"
  if [ "$status" -eq 0 ]; then
    results+=("install and package checks: ok in $((SECONDS - package_started)) s, beside the fuzz run")
  else
    results+=("install and package checks: FAILED after $((SECONDS - package_started)) s")
    failed=1
  fi
}

for p in $parts; do
  case $p in
    format) part "house formatting" format_part ;;
    default) part "default tests" default_part ;;
    asan) part "address and undefined-behaviour sanitizers" asan_part ;;
    tsan) part "thread sanitizer" tsan_part ;;
    fuzz)
      [ -z "$package_beside_fuzz" ] || start_package_beside_fuzz
      part "sample loader fuzz run (${fuzz_seconds} s)" fuzz_part
      ;;
    package)
      if [ -n "$package_pid" ]; then
        finish_package_beside_fuzz
      else
        wait_for_root
        part "install and package checks" package_part
      fi
      ;;
    *) echo "unknown part $p" >&2; failed=1 ;;
  esac
done

echo "==== summary"
printf '%s\n' "${results[@]}"
echo "all parts: $((SECONDS / 60)) min $((SECONDS % 60)) s"
echo "test code against product code (tools/test-ratio.sh): $(tools/test-ratio.sh | awk '$1 == "all" { print $4 }')"
# One closing line over every ctest run: "tests passed, F tests failed out of T" from each part.
read -r passed_total failed_total < <(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$ctest_log" |
  awk '{ f += $1; t += $2 } END { print t - f + 0, f + 0 }')
[ "$failed" -ne 0 ] && [ "${failed_total:-0}" -eq 0 ] && failed_total=1
echo "tests: ${passed_total:-0} passed, ${failed_total:-0} failed"
exit $failed
