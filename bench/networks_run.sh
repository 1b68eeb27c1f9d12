#!/usr/bin/env bash
# Many terminals on real topologies: bench/networks_run.sh BUILD_DIR [NETWORK...]
#
# For each network of NETWORKS_DIR (default: ../shared/networks beside the
# project), `dcr-tool solve --edges NET.edges` with auto at p = 0.9:
#   - every node a terminal, at D = diameter + 1, + 2, + 3 (EXTRA="1 2 3");
#   - 8 and 12 terminals (a fixed pseudo-random choice per network, Python's
#     random seeded by the network's name) at D = their largest distance + 2.
# Prints one line a run: network, nodes, links, terminals, D, status,
# seconds, states, the frontier's state kind and the method's reason.
# Env: TIME_LIMIT seconds per run (default 60), EXTRA, SIZES ("8 12").
set -uo pipefail
build="${1:?usage: networks_run.sh BUILD_DIR [NETWORK...]}"
shift
root="$(cd "$(dirname "$0")/.." && pwd)"
tool="$build/driver/tool/dcr-tool"
dir="${NETWORKS_DIR:-$root/../shared/networks}"
[[ -x "$tool" ]] || { echo "no $tool (build the project first)" >&2; exit 2; }
[[ -d "$dir" ]] || { echo "no networks folder $dir (set NETWORKS_DIR)" >&2; exit 2; }
names=("$@")
if [[ ${#names[@]} -eq 0 ]]; then
  for f in "$dir"/*.edges; do names+=("$(basename "$f" .edges)"); done
fi

# "D terminals" lines for one network: all terminals, then the sized sets.
plan() {
  python3 - "$1" "${EXTRA:-1 2 3}" "${SIZES:-8 12}" <<'PY'
import collections, random, sys
path, extra, sizes = sys.argv[1], sys.argv[2].split(), sys.argv[3].split()
edges = [tuple(map(int, l.split()[:2])) for l in open(path) if l.strip() and not l.startswith('#')]
adj = collections.defaultdict(list)
for u, v in edges:
    adj[u].append(v); adj[v].append(u)
nodes = sorted(adj)
dist = {}
for s in nodes:
    d = {s: 0}; queue = [s]
    for x in queue:
        for y in adj[x]:
            if y not in d:
                d[y] = d[x] + 1; queue.append(y)
    dist[s] = d
def widest(ts):
    return max(dist[a].get(b, 10**9) for a in ts for b in ts)
diameter = widest(nodes)
for e in extra:
    print(diameter + int(e), "all")
name = path.rsplit('/', 1)[-1]
for k in sizes:
    k = int(k)
    if k > len(nodes): continue
    ts = sorted(random.Random(name + str(k)).sample(nodes, k))
    print(widest(ts) + 2, ",".join(map(str, ts)))
PY
}

printf '%-14s %4s %5s %4s %4s %-11s %8s %10s %-9s %s\n' network n links K D status seconds states state reason
for name in "${names[@]}"; do
  f="$dir/$name.edges"
  [[ -f "$f" ]] || { echo "no $f" >&2; continue; }
  n=$(grep -m1 '^# nodes:' "$f" | awk '{print $3}')
  # Without the header: the nodes the links name.
  [[ -n "$n" ]] || n=$(grep -v '^#' "$f" | awk 'NF >= 2 {seen[$1]; seen[$2]} END {print length(seen)}')
  m=$(grep -vc '^#' "$f")
  while read -r D terminals; do
    K=$([[ $terminals == all ]] && echo "$n" || awk -F, '{print NF}' <<<"$terminals")
    json=$("$tool" solve --edges "$f" --base 0 --terminals "$terminals" -D "$D" --p 0.9 \
      --time-limit "${TIME_LIMIT:-60}" --format json 2>/dev/null)
    python3 -c '
import json, sys
try:
    j = json.loads(sys.argv[1])
except ValueError:
    print("%-11s" % "no answer"); sys.exit()
# frontier states only: a stopped run may end with search steps or samples
states = j["states"] if j.get("work_unit", "states") == "states" else "-"
print("%-11s %8.3f %10s %-9s %s" % (j["status"], j["seconds"], states, j.get("state", "-"), j["reason"]))
' "$json" | sed "s/^/$(printf '%-14s %4s %5s %4s %4s ' "$name" "$n" "$m" "$K" "$D")/"
  done < <(plan "$f")
done
