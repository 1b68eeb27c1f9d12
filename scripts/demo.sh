#!/usr/bin/env bash
# Builds dcr and runs it on a shipped example (default: the dodecahedron),
# in a scratch folder, then shows the answer it wrote.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
example="${1:-$root/examples/dodecahedron}"
bash "$root/scripts/deps.sh" g++ cmake make
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DDCR_TESTS=OFF -DDCR_TOOL=OFF >/dev/null
cmake --build "$root/build" -j2 --target dcr >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$example/input" "$work/input"
echo "== input ($example/input)"
cat "$work/input"
(cd "$work" && "$root/build/dcr")
echo "== output"
cat "$work/output"
echo
