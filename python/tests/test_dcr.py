"""Tests of the Python module dcr against oracles: a brute-force evaluator,
dcr-tool's printed digits, and the module's own calls checked against each
other. Run by CTest (python_tests) with PYTHONPATH set to the build's
package and DCR_TOOL to the built dcr-tool; the shared networks are read
from DCR_NETWORKS (default /work/shared/networks), and tests skip without."""

import _thread
import json
import os
import random
import subprocess
import threading
from collections import deque
from decimal import Decimal
from fractions import Fraction
from pathlib import Path

import networkx as nx
import pytest

import dcr

TOOL = os.environ.get("DCR_TOOL", "")
NETWORKS = Path(os.environ.get("DCR_NETWORKS", "/work/shared/networks"))


def as_fraction(x):
    """The rule the module documents: a float means the decimal it prints."""
    return Fraction(repr(x)) if isinstance(x, float) else Fraction(x)


def brute_force(G, terminals, D, p=None):
    """Exact R over all 2^m link states, by BFS within D hops from each terminal."""
    nodes = list(G)
    terminals = nodes if terminals == "all" else list(dict.fromkeys(terminals))
    links = [(u, v, as_fraction(d.get("p", p))) for u, v, d in G.edges(data=True)]
    limit = len(nodes) if D is None or D < 0 else D
    denominator = 1
    for *_, q in links:
        denominator *= q.denominator
    good = 0
    for state in range(1 << len(links)):
        adjacent = {v: [] for v in nodes}
        weight = 1  # the state's probability times `denominator`
        for i, (u, v, q) in enumerate(links):
            if state >> i & 1:
                weight *= q.numerator
                adjacent[u].append(v)
                adjacent[v].append(u)
            else:
                weight *= q.denominator - q.numerator
        if weight and all(within(adjacent, s, terminals, limit) for s in terminals[:-1]):
            good += weight
    return Fraction(good, denominator)


def within(adjacent, source, targets, limit):
    depth = {source: 0}
    queue = deque([source])
    while queue:
        u = queue.popleft()
        if depth[u] == limit:
            continue
        for v in adjacent[u]:
            if v not in depth:
                depth[v] = depth[u] + 1
                queue.append(v)
    return all(t in depth for t in targets)


def random_case(seed):
    """A small network: some MultiGraphs (parallel links, a self-loop), some
    string labels, per-link probabilities of every accepted type or one p."""
    rng = random.Random(seed)
    n = rng.randint(2, 8)
    labels = [f"n{i}" for i in range(n)] if seed % 3 == 0 else list(range(n))
    G = nx.MultiGraph() if seed % 4 == 0 else nx.Graph()
    G.add_nodes_from(labels)
    pool = [Fraction(1, 2), 0.9, "0.75", Fraction(2, 3), 1, 0, "0.05", Decimal("0.6"), 0.3]
    per_link = seed % 2 == 0
    for _ in range(rng.randint(1, 10)):
        u, v = rng.sample(labels, 2)
        G.add_edge(u, v, **({"p": rng.choice(pool)} if per_link else {}))
    if G.is_multigraph():
        u, v, *_ = next(iter(G.edges))
        G.add_edge(u, v, **({"p": Fraction(1, 3)} if per_link else {}))
        G.add_edge(u, u, **({"p": 0.5} if per_link else {}))
    terminals = "all" if seed % 5 == 0 else rng.sample(labels, rng.randint(2, n))
    D = rng.choice([None, -1, 1, 2, 3, n])
    return G, terminals, D, None if per_link else rng.choice([0.9, Fraction(1, 2), "0.99"])


@pytest.mark.parametrize("seed", range(50))
def test_random_networks_against_brute_force(seed):
    G, terminals, D, p = random_case(seed)
    expected = brute_force(G, terminals, D, p)

    exact = dcr.reliability(G, terminals, D, p, exact=True)
    assert exact.complete and exact.exact_value == expected
    assert exact.value == float(expected)
    assert exact.exact_unreliability == 1 - expected

    double = dcr.reliability(G, terminals, D, p)
    assert double.complete
    assert abs(Fraction(double.value) - expected) <= Fraction(double.error_bound)
    assert Fraction(double.lower) <= expected <= Fraction(double.upper)


def read_edges(path):
    edges = [tuple(map(int, line.split()[:2])) for line in path.read_text().splitlines()
             if line.strip() and not line.startswith("#")]
    G = nx.Graph()
    G.add_nodes_from(range(max(max(e) for e in edges) + 1))  # numbered as the tool numbers them
    G.add_edges_from(edges)
    return G


@pytest.mark.parametrize("name, terminals, D, method", [
    ("arpanet20", [0, 10], 6, "auto"),
    ("arpanet20", [0, 10], 6, "search"),
    ("Abilene", [0, 5, 9], 5, "auto"),
])
def test_double_value_matches_the_tool_digit_for_digit(name, terminals, D, method):
    path = NETWORKS / f"{name}.edges"
    if not os.access(TOOL, os.X_OK):
        pytest.skip("DCR_TOOL does not name the built dcr-tool")
    if not path.exists():
        pytest.skip(f"{path} is not here")
    printed = json.loads(subprocess.run(
        [TOOL, "solve", "--edges", str(path), "--terminals", ",".join(map(str, terminals)),
         "-D", str(D), "--p", "0.9", "--method", method, "--format", "json"],
        check=True, capture_output=True, text=True).stdout)
    r = dcr.reliability(read_edges(path), terminals, D, p=0.9, method=method)
    assert printed["reliability"] == "%.20f" % r.value
    assert (printed["method"], printed["status"]) == (r.method, r.status)


def test_probability_types_agree():
    G = nx.petersen_graph()
    terminals, D = [0, 5, 7], 3
    exact = {dcr.reliability(G, terminals, D, p, exact=True).exact_value
             for p in (Fraction(9, 10), "0.9", 0.9, Decimal("0.9"), "9/10")}
    doubles = {dcr.reliability(G, terminals, D, p).value
               for p in (Fraction(9, 10), "0.9", 0.9, Decimal("0.9"))}
    assert len(exact) == 1 and len(doubles) == 1
    assert exact.pop() == brute_force(G, terminals, D, Fraction(9, 10))

    # Per-link attributes of mixed types, under another attribute name.
    for i, (u, v) in enumerate(G.edges):
        G.edges[u, v]["w"] = [0.9, "0.9", Fraction(9, 10)][i % 3]
    r = dcr.reliability(G, terminals, D, attribute="w")
    assert r.value in doubles
    # Certain links: 1, True and Fraction(1) alike; 0 as a link that is absent.
    ones = {dcr.reliability(G, terminals, D, p, exact=True, attribute=None).exact_value
            for p in (1, True, Fraction(1), 1.0, "1")}
    assert ones == {Fraction(1)}
    assert dcr.reliability(G, terminals, D, 0, exact=True).exact_value == 0


def test_results_read_well():
    r = dcr.reliability(nx.cycle_graph(5), [0, 2], 3, p=0.9, exact=True, threshold=0.9)
    assert r.exact_value == Fraction(94851, 100000) and r.verdict == "above"
    d = r.as_dict()
    assert d["exact_value"] == "94851/100000" and json.loads(json.dumps(d)) == d
    assert "94851/100000" in repr(r) and "above" in repr(r)
    assert dcr.reliability(nx.cycle_graph(5), [0, 2], 3, p=0.9, threshold=0.95).verdict == "below"
    assert dcr.reliability(nx.cycle_graph(5), [0, 0, 2], 3, p=0.9).reason == "2 terminals, hop limit 3"


G5 = nx.cycle_graph(5)


@pytest.mark.parametrize("call, error, words", [
    (lambda: dcr.reliability(G5, [0, "x"], 2, p=0.9), ValueError, "'x'"),
    (lambda: dcr.reliability(G5, [0, 1], 2, p=1.5), ValueError, "1.5"),
    (lambda: dcr.reliability(G5, [0, 1], 2, p=-0.1), ValueError, "-0.1"),
    (lambda: dcr.reliability(G5, [0, 1], 2, p="0.9x"), ValueError, "0.9x"),
    (lambda: dcr.reliability(G5, [0, 1], 2, p=float("nan")), ValueError, "nan"),
    (lambda: dcr.reliability(G5, [0, 1], 2), ValueError, "no 'p' attribute"),
    (lambda: dcr.reliability(G5, [0], 2, p=0.9), ValueError, "two"),
    (lambda: dcr.reliability(G5, [3, 3], 2, p=0.9), ValueError, "two"),
    (lambda: dcr.reliability(G5, "0,1", 2, p=0.9), ValueError, "terminals"),
    (lambda: dcr.reliability(nx.DiGraph(G5), [0, 1], 2, p=0.9), TypeError, "undirected"),
    (lambda: dcr.reliability(G5, [0, 1], 2, p=0.9, method="fast"), ValueError, "method"),
    (lambda: dcr.reliability(G5, [0, 1], 2, p=0.9, decide=True), ValueError, "threshold"),
    (lambda: dcr.reliability(G5, [0, 1], 2, p=0.9, threshold=float("nan")), ValueError,
     "threshold"),
    (lambda: dcr.reliability(G5, [0, 1], 2, p=0.9, time_limit=float("nan")), ValueError,
     "time limit"),
    (lambda: dcr.reliability(G5, [0, 1], 2, p=0.9, threads=-1), ValueError, "threads"),
    (lambda: dcr.reliability(nx.MultiGraph([(0, 1), (0, 1)]), [0, 1], 1, p=0.9, method="search"),
     ValueError, "parallel"),
    (lambda: dcr.curve(G5, [0, 1], 2, [0.5, 1.5]), ValueError, "1.5"),
    (lambda: dcr.reliability(nx.petersen_graph(), "all", None, p=0.9, method="frontier",
                             memory_limit=1), dcr.EngineStopped, "memory"),
])
def test_errors(call, error, words):
    with pytest.raises(error) as caught:
        call()
    assert words in str(caught.value)


POLY_CASES = [
    (nx.petersen_graph(), [0, 5, 7], 3),
    (nx.MultiGraph([(0, 1), (0, 1), (1, 2), (2, 3), (3, 0), (1, 3)]), [0, 2], 2),
    (nx.complete_graph(5), "all", None),
]


@pytest.mark.parametrize("G, terminals, D", POLY_CASES)
def test_polynomial_and_curve_agree_with_solves(G, terminals, D):
    N = dcr.polynomial(G, terminals, D)
    m = G.number_of_edges()
    assert len(N) == m + 1 and all(isinstance(k, int) for k in N)
    for p in (Fraction(1, 2), Fraction(9, 10)):
        expected = dcr.reliability(G, terminals, D, p, exact=True).exact_value
        assert sum(N[k] * p**k * (1 - p) ** (m - k) for k in range(m + 1)) == expected

    points = dcr.curve(G, terminals, D, [0.0, 0.3, 0.9, 1.0])
    assert [pt.p for pt in points] == [0.0, 0.3, 0.9, 1.0]
    for pt in points:
        r = dcr.reliability(G, terminals, D, pt.p)
        assert abs(pt.value - r.value) <= pt.error_bound + r.error_bound
        assert pt.lower <= pt.value <= pt.upper
    # The same curve estimated from one set of samples: each interval holds
    # the true value (a fixed seed, so the outcome is fixed too).
    estimated = dcr.curve(G, terminals, D, [pt.p for pt in points], method="estimate",
                          samples=20000, seed=2)
    for pt, est in zip(points, estimated):
        assert est.p == pt.p
        assert est.ci_low <= pt.value <= est.ci_high


@pytest.mark.parametrize("G", [
    nx.Graph([(0, 1, {"p": 0.9}), (1, 2, {"p": "0.8"}), (0, 2, {"p": Fraction(1, 2)}),
              (2, 3, {"p": 0.7}), (1, 3, {"p": 0.6})]),
    nx.MultiGraph([(0, 1, {"p": 0.9}), (0, 1, {"p": 0.5}), (1, 2, {"p": 0.8}),
                   (0, 2, {"p": 0.3})]),
])
def test_importance_is_the_difference_of_two_solves(G):
    terminals, D = [0, 2], 2
    exact = dcr.importance(G, terminals, D, exact=True)
    double = dcr.importance(G, terminals, D)
    assert set(exact) == set(double) == set(G.edges(keys=True) if G.is_multigraph() else G.edges)
    for link, value in exact.items():
        ends = {}
        for q in (0, 1):
            H = G.copy()
            H.edges[link]["p"] = q
            ends[q] = dcr.reliability(H, terminals, D, exact=True).exact_value
        assert value == ends[1] - ends[0]
        assert abs(double[link] - float(value)) <= 1e-12
    # Estimated from the samples of R, each within a few standard errors.
    estimated = dcr.importance(G, terminals, D, method="estimate", samples=200000, seed=3,
                               with_error=True)
    assert set(estimated) == set(double)
    for link, (value, error) in estimated.items():
        assert abs(value - float(exact[link])) <= 4.5 * error + 1e-12


def test_ctrl_c_cancels_the_solve():
    # Exact arithmetic on 197 nodes, all terminals within 30 hops: far
    # longer than the interrupt's delay (the time limit ends it otherwise).
    path = NETWORKS / "Cogentco.edges"
    if not path.exists():
        pytest.skip(f"{path} is not here")
    G = read_edges(path)
    timer = threading.Timer(0.3, _thread.interrupt_main)
    with pytest.raises(KeyboardInterrupt) as caught:
        timer.start()
        try:
            dcr.reliability(G, "all", 30, p=0.9, exact=True, time_limit=60,
                            memory_limit=256 << 20)
        finally:
            timer.join()  # a late interrupt still lands inside this block
    # Raised by the solve itself, not after it returned.
    assert Path(caught.traceback[-1].path).parent.name == "dcr"


def test_estimate_brackets_the_exact_value_the_same_on_any_thread_count():
    G = nx.petersen_graph()
    exact = dcr.reliability(G, [0, 2, 6], 3, p=0.9).value
    runs = [dcr.reliability(G, [0, 2, 6], 3, p=0.9, method="estimate", samples=100000, seed=5,
                            threads=t) for t in (1, 2)]
    assert runs[0].method == "estimate" and runs[0].samples == 100000
    assert runs[0].estimate == runs[1].estimate and runs[0].ci_low == runs[1].ci_low
    assert runs[0].ci_low <= exact <= runs[0].ci_high
    assert runs[0].value is None and "estimate" in repr(runs[0])
