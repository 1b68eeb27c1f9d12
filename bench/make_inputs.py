#!/usr/bin/env python3
"""Writes the bench problem files.

    make_inputs.py [--out DIR] [--scale] [--list]

Without --scale it writes the small inputs, DIR/<name>/input (DIR defaults
to bench/inputs beside this script); with --scale it writes the two scale
inputs instead, which are too large to keep in the repository, together
with DIR/<name>/expected, the exact bytes dcr must write. --list prints the
names of the chosen set. Every input is fixed: random graphs use fixed seeds.

File format: N M, the N+1 offsets, the 2M neighbour numbers (from 1, every
edge under both ends), the N terminal flags, D, p, threshold; a comma after
every list element and one list per line.
"""

import argparse
import os
import random
import sys


class Graph:
    def __init__(self, n):
        self.adj = [[] for _ in range(n)]
        self.m = 0
        self.edges = set()

    def edge(self, u, v):
        key = (min(u, v), max(u, v))
        assert u != v and key not in self.edges
        self.edges.add(key)
        self.adj[u].append(v)
        self.adj[v].append(u)
        self.m += 1


def grid(rows, cols):
    """Nodes row by row; each lists its neighbours up, left, right, down."""
    g = Graph(rows * cols)
    for r in range(rows):
        for c in range(cols):
            u = r * cols + c
            if c + 1 < cols:
                g.edge(u, u + 1)
            if r + 1 < rows:
                g.edge(u, u + cols)
    for a in g.adj:
        a.sort()
    return g


def dodecahedron():
    """GP(10, 2): outer cycle 0..9, spokes i--10+i, inner 10+i--10+(i+2)%10."""
    g = Graph(20)
    for i in range(10):
        g.edge(i, (i + 1) % 10)
        g.edge(i, 10 + i)
        g.edge(10 + i, 10 + (i + 2) % 10)
    return g


def random_graph(seed, n, density):
    rng = random.Random(seed)
    pairs = [(u, v) for u in range(n) for v in range(u + 1, n) if rng.random() < density]
    rng.shuffle(pairs)
    g = Graph(n)
    for u, v in pairs:
        g.edge(u, v)
    return g


def k2n(n):
    """Terminals 0 and 1, joined through the middle nodes 2 .. n+1."""
    g = Graph(n + 2)
    for i in range(n):
        g.edge(0, 2 + i)
        g.edge(1, 2 + i)
    return g


def path(n):
    g = Graph(n)
    for i in range(n - 1):
        g.edge(i, i + 1)
    return g


def problem_text(g, terminals, D, p, threshold):
    n = len(g.adj)
    offsets = [0]
    for a in g.adj:
        offsets.append(offsets[-1] + len(a))
    flags = ["0"] * n
    for t in terminals:
        flags[t] = "1"

    def line(values):
        return "".join(f"{v}," for v in values) + "\n"

    return "".join([
        f"{n} {g.m}\n",
        line(offsets),
        line(w + 1 for a in g.adj for w in a),
        line(flags),
        f"{D}\n{p!r}\n{threshold!r}\n",
    ])


def corners(rows, cols):
    return [0, cols - 1, (rows - 1) * cols, rows * cols - 1]


def random_terminals(seed, n, k):
    return sorted(random.Random(seed * 7919 + 1).sample(range(n), k))


# name -> (graph, terminals, D, p, threshold). The reference engine takes
# roughly 1 to 10 seconds on each. "_cut" inputs end "NO": their threshold
# lies above the reliability, and the bound falls below it mid-search.
SMALL = {
    "grid4x5_corners_D7": lambda: (grid(4, 5), corners(4, 5), 7, 0.9, 0.8),
    "grid5x5_corners_D8_cut": lambda: (grid(5, 5), corners(5, 5), 8, 0.9, 0.99965),
    "dodeca_5t_D6": lambda: (dodecahedron(), [0, 3, 7, 12, 16], 6, 0.9, 0.9),
    "dodeca_2t_D7": lambda: (dodecahedron(), [0, 17], 7, 0.9, 0.99),
    "random10_4t_D3": lambda: (random_graph(1, 10, 0.55), random_terminals(1, 10, 4), 3, 0.9, 0.999),
    "random10_5t_D3": lambda: (random_graph(4, 10, 0.6), random_terminals(4, 10, 5), 3, 0.9, 0.999),
    "random10_5t_D3_cut": lambda: (random_graph(1, 10, 0.6), random_terminals(1, 10, 5), 3, 0.8, 0.9995),
    # 439 760 paths between two corners; a threshold of 1 is crossed by the
    # first failure leaf, 59 steps in, so the path and link stages are
    # nearly all the work.
    "prep_grid6x6_D24": lambda: (grid(6, 6), [0, 35], 24, 0.9, 1.0),
    # Three to five terminals on graphs of 25 to 31 edges: the few-pairs
    # forms of the search.
    "dodeca_3t_D6": lambda: (dodecahedron(), [0, 7, 15], 6, 0.9, 0.9),
    "dodeca_4t_D6_cut": lambda: (dodecahedron(), [0, 5, 12, 17], 6, 0.9, 0.995),
    "grid4x5_3t_D8": lambda: (grid(4, 5), [0, 4, 19], 8, 0.9, 0.9),
    "random12_4t_D4": lambda: (random_graph(5, 12, 0.4), random_terminals(5, 12, 4), 4, 0.9, 0.9),
    "random12_4t_D4_cut": lambda: (random_graph(7, 12, 0.4), random_terminals(7, 12, 4), 4, 0.9, 0.99999),
    "random14_3t_D5": lambda: (random_graph(7, 14, 0.25), random_terminals(7, 14, 3), 5, 0.9, 0.9),
    "random13_3t_D5_cut": lambda: (random_graph(8, 13, 0.33), random_terminals(8, 13, 3), 5, 0.9, 0.99999),
    # 2 606 501 paths of at most 9 edges between two nodes of K12; the first
    # failure leaf (67 steps in) crosses the threshold of 1.
    "prep_k12_D9": lambda: (random_graph(1, 12, 1.01), [0, 11], 9, 0.9, 1.0),
    # 2000 terminals and no path at all: 1 999 000 pairs, one search step.
    "terminals2000_D0": lambda: (path(2000), list(range(2000)), 0, 0.9, 0.5),
}


def expected_k2n(n, p):
    p2 = p * p
    r, q = 0.0, 1.0
    for _ in range(n):
        r += q * p2
        q = (1.0 - p2) * q
    return r


def expected_path(n, p):
    r = 1.0
    for _ in range(n - 1):
        r = r * p
    return r


SCALE_N = 100000
SCALE = {
    "scale_k2n_100000": lambda: ((k2n(SCALE_N), [0, 1], 2, 0.9, 0.5), expected_k2n(SCALE_N, 0.9)),
    "scale_path_100000": lambda: ((path(SCALE_N), [0, SCALE_N - 1], -1, 0.999999, 0.5),
                                  expected_path(SCALE_N, 0.999999)),
}


def write(path_, text):
    with open(path_, "w", newline="") as f:
        f.write(text)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "inputs"))
    ap.add_argument("--scale", action="store_true", help="write the scale inputs instead")
    ap.add_argument("--list", action="store_true", help="print the names only")
    args = ap.parse_args()
    chosen = SCALE if args.scale else SMALL
    if args.list:
        print("\n".join(chosen))
        return 0
    for name, make in chosen.items():
        folder = os.path.join(args.out, name)
        os.makedirs(folder, exist_ok=True)
        if args.scale:
            (g, terminals, D, p, threshold), value = make()
            write(os.path.join(folder, "expected"), "YES\r\n%.20f" % value)
        else:
            g, terminals, D, p, threshold = make()
        write(os.path.join(folder, "input"), problem_text(g, terminals, D, p, threshold))
    return 0


if __name__ == "__main__":
    sys.exit(main())
