#!/usr/bin/env bash
# What `make test` runs after the default build: every test headless from the default build (first, so
# that its summary leads), then the test suites under the address and undefined-behaviour sanitizers,
# the engine, window and stress tests under the thread sanitizer, the sample loader's fuzz run, and the
# install and package checks. Exits non-zero when any part fails. Knobs: VZ_TEST_PARTS (default
# "default asan tsan fuzz package"), VZ_FUZZ_SECONDS (the fuzz script's own default),
# VZ_SOAK_SECONDS (1800 s of audio in the default tree), VZ_JOBS (2).
set -uo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen

parts=${VZ_TEST_PARTS:-default asan tsan fuzz package}
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

# The test executables of a configured tree whose name matches $2 and not $3.
test_targets() {
  ninja -C "$1" -t targets all | sed -n 's/^\([a-z][a-z0-9_]*_tests\): phony$/\1/p' | grep -v '^cmake_' |
    grep -E "$2" | grep -vE "$3" | sort -u
}

default_part() {
  VZ_SOAK_SECONDS=${VZ_SOAK_SECONDS:-1800} counted_ctest --preset default
}

# Every test suite but the command lines' (whole-program renders, slow in a Debug build, on the engine
# code the engine suites cover), the allocation counters (they replace malloc, which the sanitizer
# owns) and the two control-formula window suites (the window stress and fault tests drive the same
# window code here): the fifteen-minute budget of CI.
asan_part() {
  cmake --preset asan "${launcher[@]}" >/dev/null || return 1
  local targets
  targets=$(test_targets build/asan '.' '(_cli_|_option_|golden|alloc|^vexla_ui_tests$|^zintor_ui_tests$)')
  echo "address and undefined-behaviour sanitizers on:" $targets
  # shellcheck disable=SC2086
  cmake --build --preset asan -j "$jobs" --target $targets || return 1
  # The preset shortens the soak: the Debug build with sanitizers renders many times slower.
  counted_ctest --preset asan -E "_NOT_BUILT\$|$(unbuilt_qtests build/asan "$(echo $targets | tr ' ' '|')")"
}

# Where two threads meet: the engines with their hand-overs, the audio output, the recorder, and both
# windows under stress with a render thread. The other window tests run on one thread only.
tsan_part() {
  cmake --preset tsan "${launcher[@]}" >/dev/null || return 1
  local targets
  targets=$(test_targets build/tsan \
    '^(audio_tests|wav_recorder_tests|vexla_(engine|players|scene|render_run)_tests|zintor_(engine|generator|scene|state)_tests|.*_stress_tests)$' \
    'alloc')
  echo "thread sanitizer on:" $targets
  # shellcheck disable=SC2086
  cmake --build --preset tsan -j "$jobs" --target $targets || return 1
  local pattern
  pattern=$(echo $targets | tr ' ' '|')
  # gtest cases carry their executable's name only in the command; ctest selects by test name, so the
  # unbuilt executables' cases are left out through their NOT_BUILT placeholders and the Qt tests by name.
  counted_ctest --preset tsan -E "_NOT_BUILT\$|$(unbuilt_qtests build/tsan "$pattern")"
}

# Qt Test executables (one CTest test each, named as their target) that were not built in tree $1.
unbuilt_qtests() {
  local names
  names=$(ctest --test-dir "$1" -N | sed -n 's/^ *Test *#[0-9]*: \([a-z0-9_]*_tests\)$/\1/p' | grep -vxE "$2" | tr '\n' '|')
  echo "^(${names%|})\$" | sed 's/^\^()\$$/^$/'
}

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

package_part() {
  if [ -n "$root_maker" ] && ! wait "$root_maker"; then
    echo "could not make a clean Debian 12 root:"
    tail -n 20 "$clean_root.log"
    return 1
  fi
  tools/check-package.sh build/default "$clean_root"
}

for p in $parts; do
  case $p in
    default) part "default tests" default_part ;;
    asan) part "address and undefined-behaviour sanitizers" asan_part ;;
    tsan) part "thread sanitizer" tsan_part ;;
    fuzz) part "sample loader fuzz run (${fuzz_seconds} s)" fuzz_part ;;
    package) part "install and package checks" package_part ;;
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
