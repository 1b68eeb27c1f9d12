#!/usr/bin/env bash
# Runs the frontier engine's bench: bench/frontier_run.sh BUILD_DIR [NAME...]
# One process per instance and mode, so peak RSS is the instance's own.
# Env: MODES="double exact" (default), TIMEOUT seconds per run (default 120).
set -uo pipefail
build="${1:?usage: frontier_run.sh BUILD_DIR [NAME...]}"
shift
exe="$build/bench/frontier_bench"
[[ -x "$exe" ]] || { echo "no $exe (configure with -DDCR_BENCH=ON)" >&2; exit 2; }
names=("$@")
[[ ${#names[@]} -gt 0 ]] || mapfile -t names < <("$exe" --list)
printf '%-18s %-6s %-9s %8s %8s %8s %10s %8s %5s  %s\n' instance mode status wall_s cpu_s \
  RSS_MiB states widest bytes reliability
for name in "${names[@]}"; do
  for mode in ${MODES:-double exact}; do
    line=$(timeout "${TIMEOUT:-120}" "$exe" "$name" "$mode")
    if [[ -z "$line" ]]; then
      printf '%-18s %-6s %-12s\n' "$name" "$mode" "timeout"
      continue
    fi
    IFS=$'\t' read -r n m st sec cpu rss states widest bytes value <<<"$line"
    printf '%-18s %-6s %-9s %8s %8s %8s %10s %8s %5s  %s\n' "$n" "$m" "$st" "$sec" "$cpu" "$rss" \
      "$states" "$widest" "$bytes" "$value"
  done
done
