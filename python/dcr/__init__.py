"""Diameter-constrained network reliability of networkx graphs.

R is the probability that every two terminal nodes are joined by a path of
at most D working links, each link working independently with its own
probability. Example::

    >>> import networkx as nx, dcr
    >>> dcr.reliability(nx.cycle_graph(5), [0, 2], 3, p=0.9, exact=True).exact_value
    Fraction(94851, 100000)

Graphs are undirected networkx Graphs or MultiGraphs (a MultiGraph's
parallel links are distinct links; self-loops never help). A directed graph
is refused (TypeError): convert it with ``G.to_undirected()`` if that is
what it means.

Probabilities come from each link's attribute ``attribute`` (default "p"),
else from ``p``; they may be floats, ints 0 and 1, ``fractions.Fraction``,
``decimal.Decimal`` or strings ("0.9", "9/10"). A float counts as the
decimal Python prints for it, so 0.9 means 9/10 exactly; double-precision
answers use the double nearest that decimal, as ``dcr-tool`` does.

Errors: ValueError for a bad network or bad options, EngineStopped (a
RuntimeError) when no engine could run; Ctrl-C cancels a solve and raises
KeyboardInterrupt. The GIL is released while the engines run.
"""

import decimal
import math
import numbers
import operator
from collections import namedtuple
from fractions import Fraction

from . import _dcr

__all__ = [
    "reliability",
    "polynomial",
    "curve",
    "importance",
    "Result",
    "CurvePoint",
    "EstimatePoint",
    "EngineStopped",
    "default_memory",
]
__version__ = getattr(_dcr, "__version__", "unknown")


class EngineStopped(RuntimeError):
    """No engine could finish (memory or size limits); the message says why."""


def default_memory():
    """Bytes the frontier engine's levels may take unless memory_limit says."""
    return _dcr.default_memory()


# ---- conversions -------------------------------------------------------------


def _probability(x):
    """x as an exact Fraction in [0, 1]; floats as the decimal repr prints."""
    if isinstance(x, float):  # before Rational: a float is not one
        if not math.isfinite(x):
            raise ValueError(f"probability {x!r} is not a number in [0, 1]")
        q = Fraction(float.__repr__(x))
    elif isinstance(x, numbers.Rational):
        q = Fraction(x.numerator, x.denominator)
    elif isinstance(x, str):
        try:
            q = Fraction(x.strip())
        except (ValueError, ZeroDivisionError):
            raise ValueError(f"probability {x!r} is not a decimal or a fraction") from None
    elif isinstance(x, decimal.Decimal):
        if not x.is_finite():
            raise ValueError(f"probability {x!r} is not a number in [0, 1]")
        q = Fraction(x)
    elif isinstance(x, numbers.Real):  # numpy.float32 and the like
        return _probability(float(x))
    else:
        raise TypeError(f"probability {x!r} is not a number")
    if not 0 <= q <= 1:
        raise ValueError(f"probability {x!r} is outside [0, 1]")
    return q


def _hex(q):
    # Hexadecimal: Python limits decimal int-to-str conversions, not these.
    return f"{q.numerator:x}/{q.denominator:x}"


def _fraction(pair):
    return None if pair is None else Fraction(pair[0], pair[1])


def _network(G, terminals, D, p=None, attribute="p", probabilities=True):
    """The graph as the extension takes it, and each link's key."""
    if G.is_directed():
        raise TypeError(
            "dcr needs an undirected graph (Graph or MultiGraph); "
            "for a directed one, say what it means, e.g. G.to_undirected()"
        )
    index = {}
    labels = []
    for v in G:
        index[v] = len(labels)
        labels.append(str(v))

    multi = G.is_multigraph()
    if multi:
        edges = G.edges(keys=True, data=attribute if probabilities and attribute else False)
    else:
        edges = G.edges(data=attribute if probabilities and attribute else False)
    us, vs, ps, keys = [], [], [], []
    cache = {}
    default = _hex(_probability(p)) if probabilities and p is not None else None
    for e in edges:
        key = e[:3] if multi else e[:2]
        keys.append(key)
        us.append(index[key[0]])
        vs.append(index[key[1]])
        if not probabilities:
            continue
        x = e[-1] if attribute else None
        if x is None:
            if default is None:
                raise ValueError(
                    f"link {key!r} has no {attribute!r} attribute and no default p was given"
                )
            ps.append(default)
            continue
        try:
            ps.append(cache[x.__class__, x])
        except KeyError:
            try:
                text = _hex(_probability(x))
            except ValueError as err:
                raise ValueError(f"link {key!r}: {err}") from None
            cache[x.__class__, x] = text
            ps.append(text)
        except TypeError:  # unhashable; converted every time
            ps.append(_hex(_probability(x)))

    if isinstance(terminals, str):
        if terminals != "all":
            raise ValueError(f"terminals must be 'all' or an iterable of nodes, not {terminals!r}")
        ts = list(range(len(labels)))
    else:
        ts = []
        for t in terminals:
            try:
                ts.append(index[t])
            except (KeyError, TypeError):
                raise ValueError(f"terminal {t!r} is not a node of the graph") from None

    # No shortest path has more than n - 1 links, so a D past a C int can
    # be cut down to one without changing R.
    hops = -1 if D is None else min(max(operator.index(D), -1), 2**31 - 1)
    return (len(labels), us, vs, ps, ts, hops, labels), keys


def _check(raw):
    if raw["error"] == "engine stopped":
        raise EngineStopped(raw["message"])
    if raw["error"]:
        raise ValueError(raw["message"])
    return raw


def _memory(memory_limit):
    if memory_limit is None:
        return None
    memory_limit = operator.index(memory_limit)
    if memory_limit <= 0:
        raise ValueError(f"memory_limit must be a positive number of bytes, not {memory_limit}")
    return memory_limit


# ---- answers -----------------------------------------------------------------


def _text(q):
    """A Fraction as "a/b"; Python limits str(int) to 4300 digits, this does not."""
    def digits(n):
        try:
            return str(n)
        except ValueError:
            chunk = 10**1000
            parts = []
            while n >= chunk:
                n, r = divmod(n, chunk)
                parts.append(f"{r:01000d}")
            return str(n) + "".join(reversed(parts))

    return f"{'-' if q < 0 else ''}{digits(abs(q.numerator))}/{digits(q.denominator)}"


class Result:
    """The answer of reliability().

    value          R as a float when complete (double mode: within error_bound
                   of the true R; exact mode: the double nearest to it), else None
    lower, upper   proved bounds on R (floats), always; lower <= value <= upper
    error_bound    |value - R| bound in double mode (0 in exact mode)
    unreliability  1 - R as a float, computed apart so it stays accurate near 0
    exact_value    R as a Fraction, exact mode and complete only, else None
    exact_lower, exact_upper, exact_unreliability   likewise, in exact mode
    complete       whether value holds R
    status         "complete", "decided", "time limit", "cancelled", "memory limit"
    method         the engine that answered: "frontier" or "search"
    reason         why auto chose it, or "asked for"
    verdict        with a threshold: "above" (R >= threshold), "below", or
                   None while the bounds straddle it
    work           frontier states, search steps or samples
    seconds        time the solve took, in the engines
    estimate, ci_low, ci_high, confidence, std_error, unreliability_estimate,
    samples, seed, sampler
                   method "estimate" (or auto's last resort): a Monte Carlo
                   estimate of R and its confidence interval, a statistical
                   statement, not a bound; None otherwise
    """

    _FIELDS = (
        "value",
        "lower",
        "upper",
        "error_bound",
        "unreliability",
        "exact_value",
        "exact_lower",
        "exact_upper",
        "exact_unreliability",
        "complete",
        "exact",
        "status",
        "method",
        "reason",
        "threshold",
        "verdict",
        "work",
        "widest",
        "links_used",
        "state",
        "order",
        "seconds",
        "estimate",
        "unreliability_estimate",
        "std_error",
        "ci_low",
        "ci_high",
        "confidence",
        "samples",
        "seed",
        "sampler",
    )
    __slots__ = _FIELDS

    def __init__(self, raw, threshold=None):
        complete = raw["complete"]
        self.complete = complete
        self.exact = raw["exact"]
        self.value = raw["value"] if complete else None
        self.unreliability = raw["unreliability"] if complete else None
        self.error_bound = raw["error_bound"]
        self.lower = raw["lower"]
        self.upper = raw["upper"]
        self.exact_value = _fraction(raw["exact_value"])
        self.exact_unreliability = _fraction(raw["exact_unreliability"])
        self.exact_lower = _fraction(raw["exact_lower"])
        self.exact_upper = _fraction(raw["exact_upper"])
        self.status = raw["status"]
        self.method = raw["method"]
        self.reason = raw["reason"]
        self.threshold = threshold
        self.verdict = raw["verdict"]
        self.work = raw["work"]
        self.widest = raw["widest"]
        self.links_used = raw["links_used"]
        self.state = raw["state"]
        self.order = raw["order"]
        self.seconds = raw["seconds"]
        estimated = raw["estimated"]
        for name in ("estimate", "unreliability_estimate", "std_error", "ci_low", "ci_high",
                     "confidence", "samples", "seed", "sampler"):
            setattr(self, name, raw[name] if estimated else None)

    def as_dict(self):
        """The fields as JSON-friendly values (Fractions as "a/b" strings)."""
        out = {}
        for name in self._FIELDS:
            v = getattr(self, name)
            out[name] = _text(v) if isinstance(v, Fraction) else v
        return out

    def __repr__(self):
        if self.exact_value is not None:
            answer = f"R = {self.exact_value} ~ {self.value!r} (exact)"
        elif self.complete:
            answer = f"R = {self.value!r} +- {self.error_bound:.3g}"
        elif self.estimate is not None:
            answer = (f"R ~ {self.estimate!r}, {100 * self.confidence:g}% interval "
                      f"[{self.ci_low!r}, {self.ci_high!r}] (estimate, {self.samples} samples)")
        else:
            answer = f"{self.lower!r} <= R <= {self.upper!r}"
        if self.threshold is not None:
            answer += f", {self.verdict or 'undecided'} {self.threshold!r}"
        unit = {"frontier": "states", "estimate": "samples"}.get(self.method, "steps")
        return (
            f"<dcr.Result {self.status}: {answer}; {self.method} ({self.reason}), "
            f"{self.work} {unit}, {self.seconds:.3g} s>"
        )


CurvePoint = namedtuple("CurvePoint", "p value error_bound lower upper")
CurvePoint.__doc__ = """R at one p: value within error_bound of R, lower <= R <= upper."""
EstimatePoint = namedtuple("EstimatePoint", "p estimate ci_low ci_high std_error samples")
EstimatePoint.__doc__ = """R at one p, estimated: a confidence interval, not a bound."""


# ---- the calls -----------------------------------------------------------------


def reliability(
    G,
    terminals,
    D,
    p=None,
    *,
    method="auto",
    exact=False,
    threshold=None,
    decide=False,
    time_limit=None,
    memory_limit=None,
    attribute="p",
    samples=None,
    rel_error=1e-3,
    confidence=0.95,
    seed=1,
    threads=None,
):
    """The probability that every two terminals are joined within D hops.

    G           networkx Graph or MultiGraph, nodes any hashable labels
    terminals   an iterable of nodes, or "all"
    D           the hop limit; None or negative: none
    p           probability of links without the attribute `attribute`
    method      "auto" (the frontier engine, handing over to the path
                search when it stops short, and to an estimate when no
                exact engine finishes), "frontier", "search" or "estimate"
                (Monte Carlo: Result.estimate with a confidence interval
                ci_low..ci_high, a statistical statement, not a bound)
    samples, rel_error, confidence, seed, threads
                the estimate's stopping rules (a sample cap; the interval's
                half-width relative to min(R, 1 - R)), its confidence, its
                seed (the same seed gives the same estimate on any number of
                threads) and threads (None: all cores; they also share the
                frontier's sweep, with the same answer for any count)
    exact       exact rational arithmetic (Result.exact_value, a Fraction)
    threshold   a level to compare R with (Result.verdict)
    decide      stop as soon as R >= threshold or R < threshold is proved
    time_limit  seconds; the answer then holds the bounds proved so far
    memory_limit  bytes for the frontier's levels (default: half the memory)
    attribute   the edge attribute holding each link's probability, or None

    Returns a Result; raises ValueError for a bad network or options and
    EngineStopped when no engine could run.
    """
    args, _ = _network(G, terminals, D, p, attribute)
    raw = _dcr.solve(
        *args,
        method=method,
        exact=bool(exact),
        threshold=None if threshold is None else float(threshold),
        decide=bool(decide),
        time_limit=None if time_limit is None else float(time_limit),
        memory_bytes=_memory(memory_limit),
        samples=0 if samples is None else int(samples),
        rel_error=float(rel_error),
        confidence=float(confidence),
        seed=int(seed),
        threads=0 if threads is None else int(threads),
    )
    return Result(_check(raw), threshold)


def polynomial(G, terminals, D, *, time_limit=None, memory_limit=None):
    """N_0 .. N_m (Python ints) with R(p) = sum N_k p^k (1-p)^(m-k).

    m is the number of links (a MultiGraph's parallel links each count);
    N_k is the number of sets of k working links that join every two
    terminals within D hops. Link probabilities are not read.
    """
    args, _ = _network(G, terminals, D, probabilities=False)
    raw = _check(
        _dcr.solve(
            *args,
            method="frontier",
            polynomial=True,
            time_limit=None if time_limit is None else float(time_limit),
            memory_bytes=_memory(memory_limit),
        )
    )
    if not raw["polynomial"]:
        raise EngineStopped(f"the polynomial was not finished ({raw['status']})")
    return raw["polynomial"]


def curve(
    G,
    terminals,
    D,
    ps,
    *,
    method="frontier",
    time_limit=None,
    memory_limit=None,
    samples=None,
    rel_error=1e-3,
    confidence=0.95,
    seed=1,
    threads=None,
):
    """R(p) for each p in ps, every link at p, from one decision diagram.

    Returns a list of CurvePoint(p, value, error_bound, lower, upper), one
    per p in order; [pt.value for pt in curve(...)] are the plain values.
    Each p is used as the float it is (not as its decimal, unlike
    reliability(); the two may differ in the last bits, within error_bound).

    method="estimate" samples instead, one set of samples for every p
    (common random numbers: each point is as valid as a run of its own),
    and returns EstimatePoint(p, estimate, ci_low, ci_high, std_error,
    samples); samples, rel_error (every point), confidence, seed and
    threads as for reliability().
    """
    if method not in ("frontier", "estimate"):
        raise ValueError(f"method {method!r}: curve takes 'frontier' or 'estimate'")
    ps = [float(x) for x in ps]
    for x in ps:
        if not 0 <= x <= 1:
            raise ValueError(f"probability {x!r} is outside [0, 1]")
    args, _ = _network(G, terminals, D, probabilities=False)
    nodes, us, vs, _ps, ts, hops, labels = args
    raw = _check(
        _dcr.curve(
            nodes,
            us,
            vs,
            ts,
            hops,
            labels,
            ps,
            method=method,
            time_limit=None if time_limit is None else float(time_limit),
            memory_bytes=_memory(memory_limit),
            samples=0 if samples is None else int(samples),
            rel_error=float(rel_error),
            confidence=float(confidence),
            seed=int(seed),
            threads=0 if threads is None else int(threads),
        )
    )
    point = EstimatePoint if method == "estimate" else CurvePoint
    return [point(*pt) for pt in raw["points"]]


def importance(
    G,
    terminals,
    D,
    p=None,
    *,
    method="frontier",
    exact=False,
    with_error=False,
    time_limit=None,
    memory_limit=None,
    attribute="p",
    samples=None,
    rel_error=1e-2,
    seed=1,
    threads=None,
):
    """Each link's Birnbaum importance, R(p_e = 1) - R(p_e = 0).

    Returns a dict from each link, (u, v) or (u, v, key) for a MultiGraph,
    to its importance: a float, or a Fraction with exact=True; the most
    important links come first.

    method="estimate" estimates them from the Monte Carlo samples of R (no
    extra search per link), stopping as reliability() does; a link with
    p_e = 0 or 1 is never seen in both states and gets NaN. with_error=True
    gives (value, error) pairs: the bound on the rounding error (frontier)
    or the standard error (estimate).
    """
    if method not in ("frontier", "estimate"):
        raise ValueError(f"method {method!r}: importance takes 'frontier' or 'estimate'")
    args, keys = _network(G, terminals, D, p, attribute)
    raw = _check(
        _dcr.solve(
            *args,
            method=method,
            exact=bool(exact),
            importance=True,
            time_limit=None if time_limit is None else float(time_limit),
            memory_bytes=_memory(memory_limit),
            samples=0 if samples is None else int(samples),
            rel_error=float(rel_error),
            seed=int(seed),
            threads=0 if threads is None else int(threads),
        )
    )
    if method == "frontier" and not raw["complete"]:
        raise EngineStopped(f"the importance was not finished ({raw['status']})")
    out = {}
    for link, birnbaum, exact_birnbaum, error in raw["importance"]:
        value = _fraction(exact_birnbaum) if exact else birnbaum
        out[keys[link]] = (value, 0.0 if exact else error) if with_error else value
    return out
