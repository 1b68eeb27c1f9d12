#!/usr/bin/env python3
"""dcr-tool solve --mpi under mpirun gives the plain run's answer, bit for
bit, for 1, 2 and 3 ranks, every state kind, --exact and the estimate; a rank out of
memory stops the job with one message. Skips (exit 77) where MPI is not
there."""
import json
import os
import shutil
import subprocess
import sys
import tempfile

tool = sys.argv[1]
mpirun = shutil.which("mpirun")
if mpirun is None:
    print("skipped: no mpirun (install openmpi-bin)")
    sys.exit(77)
probe = subprocess.run([tool, "solve", "--mpi", "--edges", "/dev/null"], capture_output=True,
                       text=True)
if "built without MPI" in probe.stderr:
    print("skipped: dcr-tool was built without MPI")
    sys.exit(77)

env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1",
           OMPI_MCA_rmaps_base_oversubscribe="1")
# OpenMPI's own allocations are not ours to report under the sanitizers.
env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"


def grid(k):
    return [(r * k + c, r * k + c + 1) for r in range(k) for c in range(k - 1)] + \
           [(r * k + c, (r + 1) * k + c) for r in range(k - 1) for c in range(k)]


petersen = [(i, (i + 1) % 5) for i in range(5)] + [(i, i + 5) for i in range(5)] + \
           [(5 + i, 5 + (i + 2) % 5) for i in range(5)]
cases = [  # edges, terminals, D, the state kind it runs
    (grid(6), "0,35", "-1", "connectivity"),
    (grid(5), "0,4,20,24", "9", "distance"),
    (petersen, "all", "3", "profile"),
]
failures = 0
with tempfile.TemporaryDirectory() as tmp:
    for i, (edges, terminals, D, kind) in enumerate(cases):
        path = os.path.join(tmp, f"case{i}.edges")
        with open(path, "w") as f:
            f.writelines(f"{u} {v} 0.{7 + (u + v) % 3}\n" for u, v in edges)
        for exact in ([], ["--exact"]):
            args = ["solve", "--edges", path, "--terminals", terminals, "-D", D, "--method",
                    "frontier", "--format", "json"] + exact
            plain = json.loads(subprocess.run([tool] + args, capture_output=True, text=True,
                                              check=True).stdout)
            plain.pop("seconds")
            if plain["state"] != kind:
                print(f"case {i}: ran {plain['state']}, meant {kind}")
                failures += 1
            for ranks in (1, 2, 3):
                run = subprocess.run([mpirun, "-np", str(ranks), tool] + args + ["--mpi"],
                                     capture_output=True, text=True, env=env, timeout=300)
                if run.returncode != 0:
                    print(f"case {i}{exact}, {ranks} ranks: exit {run.returncode}: {run.stderr}")
                    failures += 1
                    continue
                got = json.loads(run.stdout)  # one report: rank 0's
                got.pop("seconds")
                if got != plain:
                    print(f"case {i}{exact}, {ranks} ranks: {got} != {plain}")
                    failures += 1

    # The estimate: each rank its share of the blocks, the same estimate.
    path = os.path.join(tmp, "case0.edges")
    args = ["solve", "--edges", path, "--terminals", "0,35", "-D", "12", "--method",
            "estimate", "--samples", "20000", "--seed", "7", "--format", "json"]
    plain = json.loads(subprocess.run([tool] + args, capture_output=True, text=True,
                                      check=True).stdout)
    plain.pop("seconds")
    run = subprocess.run([mpirun, "-np", "3", tool] + args + ["--mpi"], capture_output=True,
                         text=True, env=env, timeout=300)
    got = json.loads(run.stdout) if run.returncode == 0 else {}
    got.pop("seconds", None)
    if got != plain:
        print(f"estimate, 3 ranks: {got} != {plain}; {run.stderr}")
        failures += 1

    # Out of memory on every rank: one message with the bounds so far, the
    # memory exit status, nothing on standard output.
    path = os.path.join(tmp, "big.edges")
    with open(path, "w") as f:
        f.writelines(f"{u} {v}\n" for u, v in grid(9))
    run = subprocess.run([mpirun, "-np", "2", tool, "solve", "--edges", path, "--terminals",
                          "0,80", "-D", "-1", "--p", "0.9", "--method", "frontier",
                          "--memory-limit", "0.05", "--mpi"],
                         capture_output=True, text=True, env=env, timeout=300)
    ours = [l for l in run.stderr.splitlines() if l.startswith("dcr-tool")]
    if run.returncode != 4 or run.stdout or len(ours) != 1 or "proved before" not in ours[0]:
        print(f"memory stop: exit {run.returncode}, stdout {run.stdout!r}, stderr {run.stderr}")
        failures += 1
    # Options that do not run over ranks are refused.
    run = subprocess.run([mpirun, "-np", "2", tool, "solve", "--edges", path, "--terminals",
                          "0,80", "--p", "0.9", "--polynomial", "--mpi"],
                         capture_output=True, text=True, env=env, timeout=300)
    if run.returncode != 64 or run.stderr.count("--mpi runs") != 1:
        print(f"--polynomial --mpi: exit {run.returncode}, stderr {run.stderr}")
        failures += 1

print("ok" if failures == 0 else f"{failures} failures")
sys.exit(1 if failures else 0)
