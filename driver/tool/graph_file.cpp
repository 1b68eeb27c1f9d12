#include "driver/tool/graph_file.hpp"

#include <fstream>
#include <optional>
#include <vector>

#include "driver/exit_status.hpp"
#if DCR_HAVE_NETFILE
#include "netfile/network_file.hpp"
#endif

bool graphFilesSupported() {
  return DCR_HAVE_NETFILE != 0;
}

GraphFileOutcome loadGraphFile(const GraphFileArgs& a, dcr::Network& out) {
#if DCR_HAVE_NETFILE
  if (!std::ifstream(a.path).good())
    return {kExitInputUnreadable, "cannot read the network file '" + a.path + "'"};
  netfile::Network net;
  if (std::string bad = netfile::readNetwork(a.path, net); !bad.empty())
    return {kExitBadInput, a.path + ": " + bad};
  std::vector<int> terminals;
  if (std::string bad = netfile::resolveTerminals(net, a.terminals, terminals); !bad.empty())
    return {kExitUsage, "--terminals " + a.terminals + ": " + bad};
  std::vector<std::optional<std::string>> pText(net.links.size());
  if (!a.pAttribute.empty()) {
    if (std::string bad = netfile::linkProbabilities(net, a.pAttribute, pText); !bad.empty())
      return {kExitBadInput, a.path + ": --p-attribute " + a.pAttribute + ": " + bad};
  }
  mpq_class common;
  if (!a.p.empty() && (!parseDecimal(a.p, common) || common > 1))
    return {kExitUsage, "--p " + a.p + ": the probability must be a decimal from 0 to 1"};
  out = dcr::Network{};
  out.nodes = static_cast<int>(net.labels.size());
  out.labels = net.labels;
  out.terminals = terminals;
  for (std::size_t e = 0; e < net.links.size(); ++e) {
    const auto& l = net.links[e];
    dcr::Link link{l.u, l.v, common};
    if (pText[e]) {
      if (!parseDecimal(*pText[e], link.p) || link.p > 1)
        return {kExitBadInput, a.path + ": link " + std::to_string(e) + ": the probability '" +
                                   *pText[e] + "' is not a decimal from 0 to 1"};
    } else if (a.p.empty()) {
      return {kExitUsage, a.path + ": link " + std::to_string(e) + " (" + net.labels[l.u] + " - " +
                              net.labels[l.v] + ") has no probability" +
                              (a.pAttribute.empty() ? "" : " in '" + a.pAttribute + "'") +
                              "; give --p for the links without one"};
    }
    out.links.push_back(link);
  }
  return {};
#else
  (void)a;
  (void)out;
  return {kExitUsage,
          "this dcr-tool was built without igraph (libigraph-dev): it reads no "
          "GML or GraphML files"};
#endif
}
