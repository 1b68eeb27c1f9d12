#!/usr/bin/env bash
# Builds the network-file reader's libFuzzer target with clang and fuzzes
# it for the given number of seconds (default 600) with one job. The growing
# corpus stays in the build folder; crash, timeout and leak files go to
# /tmp/dcr-fuzz-netfile. Minimize a finding with
#   dcr_fuzz_netfile -minimize_crash=1 -runs=10000 FILE
# and save the result under tests/fuzz/netfile_regressions/.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-600}"
build="${DCR_FUZZ_BUILD:-$root/build-fuzz}"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDCR_TESTS=OFF -DDCR_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target dcr_fuzz_netfile
mkdir -p "$build/netfile-corpus" /tmp/dcr-fuzz-netfile
cd /tmp/dcr-fuzz-netfile
# igraph frees a great deal per input; ASan's default 256 MB quarantine of
# freed memory then only slows the run several times over and swells it.
ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16}" "$build/tests/fuzz/dcr_fuzz_netfile" "$build/netfile-corpus" "$root/tests/fuzz/netfile_seeds" \
  -dict="$root/tests/fuzz/netfile.dict" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -max_total_time="$seconds" -jobs=1 -workers=1 -print_final_stats=1 \
  -artifact_prefix=/tmp/dcr-fuzz-netfile/
