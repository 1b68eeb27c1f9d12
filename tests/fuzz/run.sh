#!/usr/bin/env bash
# Builds the libFuzzer target with clang and fuzzes for the given number of
# seconds (default 1200) with one job. The growing corpus stays outside the
# repository's tracked files; crash, timeout and leak files go to /tmp/dcr-fuzz.
# Minimize a finding with:  dcr_fuzz -minimize_crash=1 -runs=10000 FILE
# and save the result under tests/fuzz/regressions/.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-1200}"
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDCR_TESTS=OFF -DDCR_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target dcr_fuzz
mkdir -p "$root/fuzz-corpus" /tmp/dcr-fuzz
cd /tmp/dcr-fuzz
"$build/tests/fuzz/dcr_fuzz" "$root/fuzz-corpus" "$root/tests/fuzz/seeds" \
  -dict="$root/tests/fuzz/dcr.dict" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -max_total_time="$seconds" -jobs=1 -workers=1 -print_final_stats=1 -artifact_prefix=/tmp/dcr-fuzz/
