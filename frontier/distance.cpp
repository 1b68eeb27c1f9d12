#include "frontier/distance.hpp"

#include <algorithm>
#include <bit>

namespace frontier {

DistanceRules::DistanceRules(const Plan& plan) : plan_(plan) {
  const int m = plan.levels(), n = plan.nodes;
  K_ = static_cast<int>(plan.terminals.size());
  D_ = plan.maxHops;
  inf_ = D_ + 1;
  for (int x = 0; x < K_; ++x)
    for (int y = x + 1; y < K_; ++y)
      pairA_.push_back(x), pairB_.push_back(y);
  pairBytes_ = static_cast<int>((pairA_.size() + 7) / 8);
  pairs_.resize(pairBytes_);

  std::vector<int> terminalIndex(n, -1);
  for (int k = 0; k < K_; ++k)
    terminalIndex[plan.terminals[k]] = k;
  auto passed = [&](int level) {  // terminals whose edges all lie before `level`
    std::vector<int> t;
    for (int v : plan.terminals)
      if (plan.last[v] >= 0 && plan.last[v] < level) t.push_back(v);
    return t;
  };
  widths_.resize(m + 1);
  for (int i = 0; i <= m; ++i) {
    const int f = static_cast<int>(plan.frontier[i].size());
    const int t = static_cast<int>(passed(i).size());
    widths_[i] = f * (f - 1) / 2 + t * f + pairBytes_;
  }

  std::vector<std::vector<int>> adj(n);  // undecided edges: those after the current one
  std::vector<int> dist(n), position(n, -1);
  levels_.resize(m);
  std::size_t widestWork = 0, widestNodes = 0, widestStride = 16;
  for (int i = m - 1; i >= 0; --i) {
    Level& L = levels_[i];
    const auto& F = plan.frontier[i];
    const auto T = passed(i);
    std::vector<int> work = F;
    work.insert(work.end(), T.begin(), T.end());
    const auto [eu, ev] = plan.edges[i];
    for (int v : {eu, ev})
      if (std::find(work.begin(), work.end(), v) == work.end()) work.push_back(v);
    std::vector<int> nodes = work;
    for (int v : plan.terminals)
      if (plan.first[v] > i) nodes.push_back(v);
    std::fill(position.begin(), position.end(), -1);
    for (std::size_t k = 0; k < nodes.size(); ++k)
      position[nodes[k]] = static_cast<int>(k);
    L.work = static_cast<int>(work.size());
    L.passedBegin = static_cast<int>(F.size());
    L.passedEnd = static_cast<int>(F.size() + T.size());
    L.nodes = static_cast<int>(nodes.size());
    L.u = position[eu];
    L.v = position[ev];
    auto pos8 = [&](int v) { return static_cast<std::uint16_t>(position[v]); };
    for (std::size_t a = 0; a < F.size(); ++a)
      for (std::size_t b = a + 1; b < F.size(); ++b)
        L.in.push_back({pos8(F[a]), pos8(F[b])});
    for (int t : T)
      for (int c : F)
        L.in.push_back({pos8(t), pos8(c)});
    const auto& F1 = plan.frontier[i + 1];
    const auto T1 = passed(i + 1);
    for (std::size_t a = 0; a < F1.size(); ++a)
      for (std::size_t b = a + 1; b < F1.size(); ++b)
        L.out.push_back({pos8(F1[a]), pos8(F1[b])});
    L.outPassed = static_cast<int>(L.out.size());
    for (int t : T1)
      for (int c : F1) {
        L.out.push_back({pos8(t), pos8(c)});
        L.outTerminal.push_back(terminalIndex[t]);
      }
    L.terminalNode.resize(K_);
    for (int k = 0; k < K_; ++k)
      L.terminalNode[k] = position[plan.terminals[k]];
    for (std::size_t p = 0; p < pairA_.size(); ++p)
      if (L.terminalNode[pairA_[p]] < L.work && L.terminalNode[pairB_[p]] < L.work)
        L.workPairs.push_back(static_cast<int>(p));
    // Distances over the undecided edges between the nodes that still have
    // some: the next frontier and the untouched terminals.
    const std::size_t S = (nodes.size() + 15) / 16 * 16;
    L.stride = static_cast<int>(S);
    L.undecided.assign(nodes.size() * S, static_cast<std::uint8_t>(inf_));
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      L.undecided[k * S + k] = 0;
      const int v = nodes[k];
      if (plan.last[v] <= i) continue;  // no undecided edge left
      L.live.push_back(static_cast<int>(k));
      cappedDistances(adj, v, inf_, dist);
      for (std::size_t j = 0; j < nodes.size(); ++j)
        L.undecided[k * S + j] = static_cast<std::uint8_t>(dist[nodes[j]]);
    }
    L.step = L.undecided;
    for (std::size_t k = 0; k < nodes.size(); ++k)
      L.step[k * S + k] = static_cast<std::uint8_t>(inf_);
    adj[eu].push_back(ev);
    adj[ev].push_back(eu);
    widestWork = std::max(widestWork, work.size());
    widestNodes = std::max(widestNodes, nodes.size());
    widestStride = std::max(widestStride, S);
  }
  // The root: all edges undecided.
  for (std::size_t p = 0; p < pairA_.size() && !rootRejects_; ++p) {
    cappedDistances(adj, plan.terminals[pairA_[p]], inf_, dist);
    if (dist[plan.terminals[pairB_[p]]] > D_) rootRejects_ = true;
  }
  dist_.resize(widestWork * widestStride + 1);
  colU_.resize(std::max(widestWork, widestStride) + 1);
  colV_.resize(std::max(widestWork, widestStride) + 1);
  best_.resize(K_ * widestStride + 1);
  weight_.resize(widestNodes * widestStride + 1);
  finished_.resize(widestNodes + 1);
  nearest_.resize(widestStride + 1);
  reach_.resize(K_ * widestStride + 1);
  needed_.resize(K_ + 1);
  rowChanged_.resize(widestNodes + 1);
  partner_.resize(K_ + 1);
  needList_.resize(K_ + 1);
  within_.resize(widestWork * (D_ + 1) + 1);
  open_.resize(pairA_.size() + 1);
}

Outcome DistanceRules::root(std::uint8_t* out) const {
  if (rootRejects_) return Outcome::kRejected;
  std::fill(out, out + pairBytes_, 0);
  return Outcome::kState;
}

Outcome DistanceRules::child(int level, const std::uint8_t* parent, bool works, std::uint8_t* out) {
  const Level& L = levels_[level];
  const int W = L.work, N = L.nodes, S = L.stride, inf = inf_, D = D_;
  std::uint8_t* d = dist_.data();
  std::uint8_t* sat = pairs_.data();
  const std::size_t nin = L.in.size();
  // The sweep asks for the fail child, then the work child, of one parent;
  // the fail branch leaves the decoded matrix as it was, so the work branch
  // starts from it.
  const bool sameParent = parent == decoded_ && level == decodedLevel_;
  // The fail branch left closure(parent ∪ undecided) in weight_: the work
  // branch's closure is that plus one edge (see below).
  const bool reuseClosure = works && sameParent && closed_;
  closed_ = false;
  if (!sameParent) {
    std::fill(d, d + W * S, static_cast<std::uint8_t>(inf));
    for (int k = 0; k < W; ++k)
      d[k * S + k] = 0;
    for (std::size_t e = 0; e < nin; ++e) {
      const Entry x = L.in[e];
      d[x.a * S + x.b] = d[x.b * S + x.a] = parent[e];
    }
    std::copy(parent + nin, parent + nin + pairBytes_, sat);
  }
  decoded_ = works ? nullptr : parent;
  decodedLevel_ = level;
  const int P = static_cast<int>(pairA_.size());

  if (works) {
    // d(a,b) = min(d(a,b), d(a,u) + 1 + d(v,b), d(a,v) + 1 + d(u,b)).
    std::uint8_t* cu = colU_.data();
    std::uint8_t* cv = colV_.data();
    for (int k = 0; k < W; ++k)
      cu[k] = d[k * S + L.u], cv[k] = d[k * S + L.v];
    if (D <= 126) {  // entries <= D + 1, sums <= 2D + 3: bytes suffice
      for (int a = 0; a < W; ++a) {
        const std::uint8_t au = static_cast<std::uint8_t>(cu[a] + 1);
        const std::uint8_t av = static_cast<std::uint8_t>(cv[a] + 1);
        if (au > inf && av > inf) continue;
        std::uint8_t* row = d + a * S;
        for (int b = 0; b < W; ++b) {
          const std::uint8_t x = static_cast<std::uint8_t>(au + cv[b]);
          const std::uint8_t y = static_cast<std::uint8_t>(av + cu[b]);
          const std::uint8_t c = x < y ? x : y;
          row[b] = c < row[b] ? c : row[b];
        }
      }
    } else {
      for (int a = 0; a < W; ++a) {
        const int au = cu[a] + 1, av = cv[a] + 1;
        if (au > inf && av > inf) continue;
        std::uint8_t* row = d + a * S;
        for (int b = 0; b < W; ++b) {
          const int c = std::min(au + cv[b], av + cu[b]);
          if (c < row[b]) row[b] = static_cast<std::uint8_t>(c);
        }
      }
    }
    for (int p : L.workPairs) {
      if (sat[p >> 3] >> (p & 7) & 1) continue;
      const int x = L.terminalNode[pairA_[p]], y = L.terminalNode[pairB_[p]];
      if (d[x * S + y] <= D) sat[p >> 3] |= static_cast<std::uint8_t>(1 << (p & 7));
    }
  }
  int* open = open_.data();
  int opens = 0;
  for (int j = 0; j < pairBytes_; ++j)  // whole bytes of satisfied pairs skipped
    for (unsigned bits = ~sat[j] & 0xFFu; bits != 0; bits &= bits - 1) {
      const int p = 8 * j + std::countr_zero(bits);
      if (p < P) open[opens++] = p;
    }
  if (opens == 0) return Outcome::kAccepted;

  // best(x, .) for the terminals of open pairs: Dijkstra over the decided
  // distances and the undecided-edge distances, dense (N is small).
  // Rows are S bytes apart (S: N rounded up to 16, the tail all D + 1), so
  // the loops below run over whole vector lanes.
  std::uint8_t* w = weight_.data();
  const std::uint8_t* Ud = L.undecided.data();
  if (!reuseClosure) {
    for (int a = 0; a < W; ++a)
      for (int b = 0; b < S; ++b) {
        const std::uint8_t x = d[a * S + b], y = Ud[a * S + b];
        w[a * S + b] = x < y ? x : y;
      }
    std::copy(Ud + W * S, Ud + N * S, w + W * S);
  }
  std::uint8_t* best = best_.data();
  std::uint8_t* finished = finished_.data();
  std::uint8_t* needed = needed_.data();
  std::fill(needed, needed + K_, 0);
  for (int i = 0; i < opens; ++i)
    needed[pairA_[open[i]]] = needed[pairB_[open[i]]] = 1;
  std::uint8_t* reach = reach_.data();
  std::uint8_t* nearest = nearest_.data();  // min over needed x of reach(x, .)
  std::fill(nearest, nearest + S, static_cast<std::uint8_t>(inf));
  // best(x, y): row x of the closure w (by node), or of best (by terminal).
  const std::uint8_t* bestRows = w;
  bool byTerminal = false;
  if (D <= 126 && N <= 48) {
    // All pairs at once (Floyd-Warshall on bytes: entries stay <= 127 and
    // a leg above D is never worth extending, so sums fit a byte and the
    // inner loop vectorises). Cheaper than a Dijkstra per terminal here.
    // Entries up to D are exact distances; above D they only say "too far".
    //
    // The work branch of a parent whose fail branch ran the closure needs
    // none: closure(d + e + undecided) is closure(d + undecided) with the
    // one edge e = (u, v) added, C(a,b) = min(C(a,b), C(a,u) + 1 + C(v,b),
    // C(a,v) + 1 + C(u,b)), exact up to D (a walk within D uses e once,
    // and its legs are within D). Rows u and v are read from copies; rows
    // already updated only offer shorter valid walks.
    std::uint8_t* rowChanged = rowChanged_.data();
    if (reuseClosure) {
      std::uint8_t* cu = colU_.data();
      std::uint8_t* cv = colV_.data();
      // Copies capped at D + 1 (above D all is "too far"), so that sums
      // stay below 2D + 4 <= 255 and the loop runs on bytes.
      const std::uint8_t cap = static_cast<std::uint8_t>(inf);
      for (int b = 0; b < S; ++b) {
        cu[b] = std::min(w[L.u * S + b], cap);
        cv[b] = std::min(w[L.v * S + b], cap);
      }
      for (int a = 0; a < N; ++a) {
        const std::uint8_t au = static_cast<std::uint8_t>(cu[a] + 1);
        const std::uint8_t av = static_cast<std::uint8_t>(cv[a] + 1);
        rowChanged[a] = 0;
        if (au > D && av > D) continue;
        std::uint8_t* row = w + a * S;
        std::uint8_t changed = 0;
        for (int b = 0; b < S; ++b) {
          const std::uint8_t x = static_cast<std::uint8_t>(au + cv[b]);
          const std::uint8_t y = static_cast<std::uint8_t>(av + cu[b]);
          const std::uint8_t c = x < y ? x : y;
          changed |= static_cast<std::uint8_t>(c < row[b]);
          row[b] = c < row[b] ? c : row[b];
        }
        rowChanged[a] = changed;
      }
    }
    // Passed terminals are no intermediates: all their edges are decided,
    // so a walk through one holds a decided stretch p .. t .. q whose ends
    // are frontier nodes met by undecided edges (or the walk's own end, a
    // terminal). The entry (p, q) is at most that long, or was dropped
    // because no open pair could use that length, and uses only grow less
    // likely (best-case distances only grow, open pairs only shrink). So
    // such a walk never brings a needed distance within D that the others
    // do not, and the states come out the same.
    for (int k = 0; k < N && !reuseClosure; ++k) {
      if (k == L.passedBegin) k = L.passedEnd;
      if (k >= N) break;
      pivotBytes(w, N, S, k, D);
    }
    closed_ = !works;
    // reach(x, a): the shortest best-case walk from x that arrives at a by
    // an undecided edge; 0 at x itself. A stored entry (a, b) serves an
    // open pair (x, y) only on a walk x .. a b .. y that arrives at a and
    // leaves b by undecided edges: were the edge into a decided, the
    // decided stretch c .. a b from the last undecided edge's end c (a
    // frontier node) would be covered by the entry (c, b) already. So it
    // suffices that reach(x,a) + d(a,b) + reach(y,b) <= D for some open
    // pair, either way round; reach(x, a) = min over c != a of
    // C(x, c) + U(c, a) (C: best-case, U: undecided edges only).
    const std::uint8_t* Ustep = L.step.data();
    for (int k = 0; k < K_; ++k) {
      if (!needed[k]) continue;
      const int xk = L.terminalNode[k];
      const std::uint8_t* src = w + xk * S;
      std::uint8_t* r1 = reach + k * S;
      // The fail branch left reach of every terminal it needed (a superset
      // of these); a row the edge did not shorten keeps it.
      if (reuseClosure && !rowChanged[xk]) {
        for (int a = 0; a < S; ++a)
          nearest[a] = std::min(nearest[a], r1[a]);
        continue;
      }
      std::fill(r1, r1 + S, static_cast<std::uint8_t>(inf));
      for (int cc : L.live) {  // U rows of the other nodes are empty
        const std::uint8_t t = src[cc];
        if (t > D) continue;
        // The walk must end with an undecided step: U without its diagonal.
        const std::uint8_t* uc = Ustep + cc * S;
        for (int a = 0; a < S; ++a) {
          const std::uint8_t v = static_cast<std::uint8_t>(t + uc[a]);
          r1[a] = v < r1[a] ? v : r1[a];
        }
      }
      r1[xk] = 0;
      for (int a = 0; a < S; ++a)
        nearest[a] = std::min(nearest[a], r1[a]);
    }
  } else {
    for (int k = 0; k < K_; ++k) {
      if (!needed[k]) continue;
      std::uint8_t* row = best + k * S;
      std::fill(row, row + S, static_cast<std::uint8_t>(inf));
      std::fill(finished, finished + N, 0);
      row[L.terminalNode[k]] = 0;
      for (int round = 0; round < N; ++round) {
        int at = -1, low = inf;
        for (int c = 0; c < N; ++c)
          if (!finished[c] && row[c] < low) low = row[c], at = c;
        if (at < 0) break;
        finished[at] = 1;
        const std::uint8_t* wr = w + at * S;
        for (int c = 0; c < N; ++c) {
          const int via = low + wr[c];
          if (via < row[c]) row[c] = static_cast<std::uint8_t>(via);
        }
      }
      for (int c = 0; c < N; ++c)
        nearest[c] = std::min(nearest[c], row[c]);
    }
    reach = best;
    bestRows = best;
    byTerminal = true;
  }
  for (int i = 0; i < opens; ++i) {
    const int p = open[i];
    const int x = byTerminal ? pairA_[p] : L.terminalNode[pairA_[p]];
    if (bestRows[x * S + L.terminalNode[pairB_[p]]] > D) return Outcome::kRejected;
  }

  // Write the child, each entry kept only if some open pair can use it.
  const int nout = static_cast<int>(L.out.size());
  if (K_ <= 64) {
    // By bit masks over terminals instead of a loop over open pairs:
    // partner[x], the terminals y with (x, y) open; within[b][t], the
    // needed y with reach(y, b) <= t. Entry (a, b) of value val serves an
    // open pair iff partner[x] meets within[b][D - val - reach(x, a)] for
    // some needed x (x at a, y at b covers both ways round, as x ranges
    // over all); a passed terminal t's entry (t, b) iff partner[t] meets
    // within[b][D - val].
    std::uint64_t* partner = partner_.data();
    std::fill(partner, partner + K_, 0);
    for (int i = 0; i < opens; ++i) {
      const int p = open[i];
      partner[pairA_[p]] |= std::uint64_t{1} << pairB_[p];
      partner[pairB_[p]] |= std::uint64_t{1} << pairA_[p];
    }
    int* list = needList_.data();
    int listed = 0;
    for (int k = 0; k < K_; ++k)
      if (needed[k]) list[listed++] = k;
    std::uint64_t* within = within_.data();
    const int T = D + 1;
    std::fill(within, within + W * T, 0);
    for (int i = 0; i < listed; ++i) {
      const int y = list[i];
      const std::uint8_t* ry = reach + y * S;
      for (int b = 0; b < W; ++b)
        if (ry[b] <= D) within[b * T + ry[b]] |= std::uint64_t{1} << y;
    }
    for (int b = 0; b < W; ++b)
      for (int t = 1; t < T; ++t)
        within[b * T + t] |= within[b * T + t - 1];
    for (int e = 0; e < nout; ++e) {
      const Entry x = L.out[e];
      const int val = d[x.a * S + x.b];
      bool useful = false;
      if (val <= D) {
        const std::uint64_t* wb = within + x.b * T;
        if (e >= L.outPassed) {
          const int t = L.outTerminal[e - L.outPassed];
          useful = (partner[t] & wb[D - val]) != 0;
        } else if (val + nearest[x.a] + nearest[x.b] <= D) {
          for (int i = 0; i < listed && !useful; ++i) {
            const int r = D - val - reach[list[i] * S + x.a];
            useful = r >= 0 && (partner[list[i]] & wb[r]) != 0;
          }
        }
      }
      out[e] = static_cast<std::uint8_t>(useful ? val : inf);
    }
    std::copy(sat, sat + pairBytes_, out + nout);
    return Outcome::kState;
  }
  for (int e = 0; e < nout; ++e) {
    const Entry x = L.out[e];
    const int val = d[x.a * S + x.b];
    bool useful = false;
    if (e >= L.outPassed) {  // a passed terminal: only its own pairs
      const int t = L.outTerminal[e - L.outPassed];
      if (val <= D && needed[t] && val + nearest[x.b] <= D)
        for (int i = 0; i < opens && !useful; ++i) {
          const int p = open[i];
          const int y = pairA_[p] == t ? pairB_[p] : pairB_[p] == t ? pairA_[p] : -1;
          useful = y >= 0 && val + reach[y * S + x.b] <= D;
        }
    } else if (val + nearest[x.a] + nearest[x.b] <= D) {
      for (int i = 0; i < opens && !useful; ++i) {
        const std::uint8_t* bx = reach + pairA_[open[i]] * S;
        const std::uint8_t* by = reach + pairB_[open[i]] * S;
        useful = bx[x.a] + val + by[x.b] <= D || bx[x.b] + val + by[x.a] <= D;
      }
    }
    out[e] = static_cast<std::uint8_t>(useful ? val : inf);
  }
  std::copy(sat, sat + pairBytes_, out + nout);
  return Outcome::kState;
}

}  // namespace frontier
