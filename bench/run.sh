#!/usr/bin/env bash
# Runs the bench: bench/run.sh BUILD_DIR [options]; see bench/README.md.
# Builds nothing; BUILD_DIR must hold dcr, tests/reference/dcr-reference
# and bench/count_steps (configure with -DDCR_BENCH=ON).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec python3 "$here/run_bench.py" "$@"
