// _dcr: the C++ half of the Python module `dcr`, kept thin. Graphs, node
// labels and fractions are turned into numbers by dcr/__init__.py; this
// file takes node numbers and probabilities as hexadecimal "num/den"
// strings, calls the front door (api/dcr.hpp) without the GIL, and hands
// back plain Python values (exact rationals as (num, den) pairs of ints).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "api/dcr.hpp"

namespace py = pybind11;

namespace {

// ---- numbers across the border -------------------------------------------

// Python caps decimal int <-> str conversions (4300 digits by default) but
// not hexadecimal ones, and exact values grow past that on large networks.
py::object toInt(const mpz_class& z) {
  const std::string hex = z.get_str(16);
  PyObject* out = PyLong_FromString(hex.c_str(), nullptr, 16);
  if (out == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(out);
}

py::object toPair(const std::optional<mpq_class>& q) {
  if (!q) return py::none();
  return py::make_tuple(toInt(q->get_num()), toInt(q->get_den()));
}

mpq_class parseRational(const std::string& hex, std::size_t link) {
  mpq_class q;
  if (q.set_str(hex, 16) != 0 || q.get_den() == 0)
    throw py::value_error("link " + std::to_string(link) + ": '" + hex +
                          "' is not a hexadecimal fraction");
  q.canonicalize();
  return q;
}

dcr::Network makeNetwork(int nodes, const std::vector<int>& us, const std::vector<int>& vs,
                         const std::vector<std::string>& ps, std::vector<int> terminals,
                         int maxHops, std::vector<std::string> labels) {
  if (us.size() != vs.size() || (!ps.empty() && ps.size() != us.size()))
    throw py::value_error("the link lists differ in length");
  dcr::Network n;
  n.nodes = nodes;
  n.labels = std::move(labels);
  n.terminals = std::move(terminals);
  n.maxHops = maxHops;
  n.links.resize(us.size());
  for (std::size_t i = 0; i < us.size(); ++i) {
    n.links[i].u = us[i];
    n.links[i].v = vs[i];
    if (!ps.empty()) n.links[i].p = parseRational(ps[i], i);
  }
  return n;
}

// The sampling options (samples .. threads) are the estimate's; threads
// also run the frontier's sweep.
struct Sampling {
  std::uint64_t samples = 0;
  double relError = 1e-3, confidence = 0.95;
  std::uint64_t seed = 1;
  int threads = 0;
};

dcr::Options makeOptions(const std::string& method, std::optional<double> timeLimit,
                         std::optional<std::size_t> memoryBytes, const Sampling& sampling) {
  dcr::Options o;
  o.samples = sampling.samples;
  o.relError = sampling.relError;
  o.confidence = sampling.confidence;
  o.seed = sampling.seed;
  o.threads = sampling.threads;
  if (method == "auto")
    o.method = dcr::Method::kAuto;
  else if (method == "frontier")
    o.method = dcr::Method::kFrontier;
  else if (method == "search")
    o.method = dcr::Method::kSearch;
  else if (method == "estimate")
    o.method = dcr::Method::kEstimate;
  else
    throw py::value_error("method must be 'auto', 'frontier', 'search' or 'estimate', not '" +
                          method + "'");
  o.timeLimit = timeLimit.value_or(-1);
  o.memoryBytes = memoryBytes.value_or(0);
  return o;
}

const char* errorName(dcr::ErrorKind kind) {
  switch (kind) {
    case dcr::ErrorKind::kInvalidNetwork:
      return "invalid network";
    case dcr::ErrorKind::kInvalidOptions:
      return "invalid options";
    case dcr::ErrorKind::kEngineStopped:
      return "engine stopped";
    default:
      return "";
  }
}

// ---- running without the GIL, Ctrl-C included ----------------------------

// Runs `work(cancelled)` with the GIL released. The engines poll
// `cancelled` from their own threads (the frontier races its lanes on
// several), where Python runs no signal handlers, so the solve runs on a
// helper thread and this one, usually Python's main thread, checks for
// signals a few times a second. A handler's exception (KeyboardInterrupt
// for Ctrl-C) cancels the solve and is raised once the engine has let go.
template <class Out, class Work>
Out runCancellable(Work work) {
  constexpr auto kPoll = std::chrono::milliseconds(50);
  std::atomic<bool> stop{false};
  const std::function<bool()> cancelled = [&stop] { return stop.load(std::memory_order_relaxed); };
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
  std::optional<Out> out;
  std::exception_ptr failure;
  {
    py::gil_scoped_release released;
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    auto run = [&] {
      try {
        out.emplace(work(cancelled));
      } catch (...) {
        failure = std::current_exception();
      }
      const std::lock_guard<std::mutex> hold(lock);
      done = true;
      finished.notify_one();
    };
    std::optional<std::thread> helper;
    try {
      helper.emplace(run);
    } catch (const std::system_error&) {
      // No thread to spare: solve here, checking signals from the hook
      // whenever an engine polls it on this thread.
      const std::thread::id self = std::this_thread::get_id();
      auto last = std::chrono::steady_clock::now();
      const std::function<bool()> here = [&] {
        if (stop.load() || std::this_thread::get_id() != self) return stop.load();
        const auto now = std::chrono::steady_clock::now();
        if (now - last < kPoll) return false;
        last = now;
        const py::gil_scoped_acquire held;
        if (PyErr_CheckSignals() != 0) {
          PyErr_Fetch(&type, &value, &trace);
          stop = true;
        }
        return stop.load();
      };
      try {
        out.emplace(work(here));
      } catch (...) {
        failure = std::current_exception();
      }
      done = true;
    }
    std::unique_lock<std::mutex> hold(lock);
    while (!finished.wait_for(hold, kPoll, [&] { return done; })) {
      if (stop.load()) continue;
      hold.unlock();
      {
        const py::gil_scoped_acquire held;
        if (PyErr_CheckSignals() != 0) {
          PyErr_Fetch(&type, &value, &trace);
          stop = true;
        }
      }
      hold.lock();
    }
    hold.unlock();
    if (helper) helper->join();
  }
  if (type != nullptr) {
    PyErr_Restore(type, value, trace);
    throw py::error_already_set();
  }
  if (failure) std::rethrow_exception(failure);
  return std::move(*out);
}

// ---- the calls -------------------------------------------------------------

py::dict solve(int nodes, const std::vector<int>& us, const std::vector<int>& vs,
               const std::vector<std::string>& ps, std::vector<int> terminals, int maxHops,
               std::vector<std::string> labels, const std::string& method, bool exact,
               bool polynomial, bool importance, std::optional<double> threshold, bool decide,
               std::optional<double> timeLimit, std::optional<std::size_t> memoryBytes,
               std::uint64_t samples, double relError, double confidence, std::uint64_t seed,
               int threads) {
  const dcr::Network network =
      makeNetwork(nodes, us, vs, ps, std::move(terminals), maxHops, std::move(labels));
  dcr::Options options =
      makeOptions(method, timeLimit, memoryBytes, {samples, relError, confidence, seed, threads});
  options.exact = exact;
  options.polynomial = polynomial;
  options.importance = importance;
  options.threshold = threshold;
  options.decide = decide;
  const dcr::Result r = runCancellable<dcr::Result>([&](const std::function<bool()>& cancelled) {
    dcr::Options o = options;
    o.cancelled = cancelled;
    return dcr::solve(network, o);
  });

  py::dict d;
  d["error"] = errorName(r.error);
  d["message"] = r.message;
  if (!r.ok()) return d;
  d["method"] = dcr::methodName(r.method);
  d["reason"] = r.reason;
  d["status"] = r.status;
  d["complete"] = r.complete;
  d["exact"] = r.exact;
  d["value"] = r.value;
  d["unreliability"] = r.unreliability;
  d["error_bound"] = r.errorBound;
  d["lower"] = r.lower;
  d["upper"] = r.upper;
  d["exact_value"] = toPair(r.exactValue);
  d["exact_unreliability"] = toPair(r.exactUnreliability);
  d["exact_lower"] = toPair(r.exactLower);
  d["exact_upper"] = toPair(r.exactUpper);
  py::list counts;
  for (const mpz_class& n : r.polynomial)
    counts.append(toInt(n));
  d["polynomial"] = counts;
  py::list links;
  for (const dcr::LinkImportance& i : r.importance)
    links.append(py::make_tuple(i.link, i.birnbaum, toPair(i.exactBirnbaum),
                                r.estimated ? i.stdError : r.importanceError));
  d["importance"] = links;
  d["work"] = r.work;
  d["widest"] = r.widest;
  d["links_used"] = r.linksUsed;
  d["state"] = r.state;
  d["order"] = r.order;
  d["seconds"] = r.seconds;
  d["estimated"] = r.estimated;
  d["estimate"] = r.estimate;
  d["unreliability_estimate"] = r.unreliabilityEstimate;
  d["std_error"] = r.stdError;
  d["ci_low"] = r.ciLow;
  d["ci_high"] = r.ciHigh;
  d["confidence"] = r.confidence;
  d["samples"] = r.samples;
  d["seed"] = r.seed;
  d["sampler"] = r.sampler;
  const std::optional<std::string> verdict = r.verdict(threshold);
  d["verdict"] = verdict ? py::object(py::str(*verdict)) : py::none();
  return d;
}

py::dict curve(int nodes, const std::vector<int>& us, const std::vector<int>& vs,
               std::vector<int> terminals, int maxHops, std::vector<std::string> labels,
               const std::vector<double>& ps, const std::string& method,
               std::optional<double> timeLimit, std::optional<std::size_t> memoryBytes,
               std::uint64_t samples, double relError, double confidence, std::uint64_t seed,
               int threads) {
  const dcr::Network network =
      makeNetwork(nodes, us, vs, {}, std::move(terminals), maxHops, std::move(labels));
  if (method != "frontier" && method != "estimate")
    throw py::value_error("curve's method must be 'frontier' or 'estimate', not '" + method + "'");
  const dcr::Options options =
      makeOptions(method, timeLimit, memoryBytes, {samples, relError, confidence, seed, threads});
  const dcr::Curve c = runCancellable<dcr::Curve>([&](const std::function<bool()>& cancelled) {
    dcr::Options o = options;
    o.cancelled = cancelled;
    return dcr::curve(network, ps, o);
  });
  py::dict d;
  d["error"] = errorName(c.error);
  d["message"] = c.message;
  py::list points;
  for (const dcr::CurvePoint& p : c.points) {
    if (p.method == dcr::Method::kEstimate)
      points.append(py::make_tuple(p.p, p.value, p.ciLow, p.ciHigh, p.stdError, p.samples));
    else
      points.append(py::make_tuple(p.p, p.value, p.errorBound, p.lower, p.upper));
  }
  d["points"] = points;
  d["work"] = c.work;
  d["seconds"] = c.seconds;
  return d;
}

}  // namespace

PYBIND11_MODULE(_dcr, m) {
  m.doc() = "The C++ half of the dcr module; use the package dcr instead.";
#ifdef DCR_VERSION
  m.attr("__version__") = DCR_VERSION;
#endif
  m.def("solve", &solve, py::arg("nodes"), py::arg("us"), py::arg("vs"), py::arg("ps"),
        py::arg("terminals"), py::arg("max_hops"), py::arg("labels"), py::kw_only(),
        py::arg("method") = "auto", py::arg("exact") = false, py::arg("polynomial") = false,
        py::arg("importance") = false, py::arg("threshold") = py::none(), py::arg("decide") = false,
        py::arg("time_limit") = py::none(), py::arg("memory_bytes") = py::none(),
        py::arg("samples") = 0, py::arg("rel_error") = 1e-3, py::arg("confidence") = 0.95,
        py::arg("seed") = 1, py::arg("threads") = 0,
        "Solves one network; returns a dict of plain values (see dcr/__init__.py).");
  m.def("curve", &curve, py::arg("nodes"), py::arg("us"), py::arg("vs"), py::arg("terminals"),
        py::arg("max_hops"), py::arg("labels"), py::arg("ps"), py::kw_only(),
        py::arg("method") = "frontier", py::arg("time_limit") = py::none(),
        py::arg("memory_bytes") = py::none(), py::arg("samples") = 0, py::arg("rel_error") = 1e-3,
        py::arg("confidence") = 0.95, py::arg("seed") = 1, py::arg("threads") = 0,
        "R(p) for each p from one decision diagram (or one set of samples); returns a dict of "
        "plain values.");
  m.def("default_memory", &dcr::defaultMemory,
        "Bytes the frontier's levels may take unless told otherwise.");
}
