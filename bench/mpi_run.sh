#!/usr/bin/env bash
# The frontier sweep on threads and on MPI ranks: bench/mpi_run.sh BUILD_DIR
#
# dcr-tool solve on a K x K grid corner to corner with no hop limit (the
# connectivity state; GRIDS="12" by default) and on eon19 with every node a
# terminal at D = 7 (the profile state, its two orders one after another
# over ranks), p = 0.9: one process with 1 and 2 threads, then mpirun with
# RANKS ranks ("1 2 4"; more ranks than cores are oversubscribed). Prints
# wall seconds, the largest peak RSS of one process or rank (MiB), the
# states and the reliability, which is the same in every row.
# MPIRUN_OPTS goes to mpirun; by default "--mca pml ob1": on one machine
# OpenMPI's UCX layer costs about 0.25 s a start and runs the exchange no
# faster than the plain shared-memory path (MPIRUN_OPTS= for the default).
set -uo pipefail
build="${1:?usage: mpi_run.sh BUILD_DIR}"
root="$(cd "$(dirname "$0")/.." && pwd)"
tool="$build/driver/tool/dcr-tool"
[[ -x "$tool" ]] || { echo "no $tool (build the project first)" >&2; exit 2; }
command -v mpirun >/dev/null || { echo "no mpirun (apt-get install openmpi-bin)" >&2; exit 2; }
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

problems=()
for k in ${GRIDS:-12}; do
  awk -v k="$k" 'BEGIN { for (r = 0; r < k; r++) for (c = 0; c < k; c++) {
      v = r * k + c; if (c + 1 < k) print v, v + 1; if (r + 1 < k) print v, v + k } }' \
    > "$tmp/grid$k.edges"
  problems+=("grid${k}|--edges $tmp/grid$k.edges --terminals 0,$((k * k - 1)) -D -1")
done
eon="${NETWORKS_DIR:-$root/../shared/networks}/eon19.edges"
[[ -f "$eon" ]] && problems+=("eon19_all_D7|--edges $eon --terminals all -D 7")

printf '%-14s %-10s %8s %9s %10s  %s\n' problem run wall_s RSS_MiB states reliability
for entry in "${problems[@]}"; do
  name="${entry%%|*}"
  read -r -a args <<<"${entry#*|}"
  base=(solve "${args[@]}" --p 0.9 --method frontier --format json)
  runs=("threads 1|" "threads 2|")
  for n in ${RANKS:-1 2 4}; do
    runs+=("ranks $n|mpirun --oversubscribe ${MPIRUN_OPTS---mca pml ob1} -np $n")
  done
  for run in "${runs[@]}"; do
    label="${run%%|*}"
    launcher="${run#*|}"
    extra=(--mpi)
    [[ "$label" == threads* ]] && extra=(--threads "${label#threads }")
    start=$(date +%s.%N)
    # shellcheck disable=SC2086
    $launcher /usr/bin/time -f "%M" -o "$tmp/rss.%p" "$tool" "${base[@]}" "${extra[@]}" \
      > "$tmp/out.json" 2>/dev/null
    end=$(date +%s.%N)
    rss=$(cat "$tmp"/rss.* | sort -n | tail -1)
    rm -f "$tmp"/rss.*
    states=$(grep -o '"states": [0-9]*' "$tmp/out.json" | grep -o '[0-9]*$')
    value=$(grep -o '"reliability": "[0-9.]*"' "$tmp/out.json" | grep -o '[0-9.]*')
    printf '%-14s %-10s %8.2f %9.1f %10s  %s\n' "$name" "$label" "$(echo "$end - $start" | bc)" \
      "$(echo "$rss / 1024" | bc -l)" "$states" "$value"
  done
done
