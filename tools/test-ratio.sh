#!/usr/bin/env bash
# Lines of test code against lines of product code, per folder and in all (blank lines and comment-only
# lines left out). Test code is what sits in a tests/ folder; benchmarks, fuzz targets and tools count
# as neither. The aim is a quarter to a third.
set -euo pipefail
cd "$(dirname "$0")/.."

count() { # lines of code in the files given on stdin
  xargs -r cat | awk '{ sub(/^[ \t]+/, "") } $0 != "" && substr($0, 1, 2) != "//" { n++ } END { print n + 0 }'
}

printf '%-22s %8s %8s %6s\n' folder code tests ratio
total_code=0
total_tests=0
for folder in common audio vexla/engine vexla/samples vexla/cli vexla/ui vexla/scene vexla/controls \
  zintor/engine zintor/generators zintor/cli zintor/ui zintor/scene zintor/controls packaging; do
  [ -d "$folder" ] || continue
  code=$(find "$folder" \( -name '*.cpp' -o -name '*.h' \) -not -path '*/tests/*' -not -path '*/fuzz/*' | count)
  tests=$(find "$folder" -path '*/tests/*' \( -name '*.cpp' -o -name '*.h' \) | count)
  total_code=$((total_code + code))
  total_tests=$((total_tests + tests))
  printf '%-22s %8d %8d %6s\n' "$folder" "$code" "$tests" "$(awk -v t="$tests" -v c="$code" 'BEGIN { if (c) printf "%.2f", t / c }')"
done
printf '%-22s %8d %8d %6s\n' all "$total_code" "$total_tests" \
  "$(awk -v t="$total_tests" -v c="$total_code" 'BEGIN { printf "%.2f", t / c }')"
