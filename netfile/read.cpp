// Reading GML and GraphML through igraph.
//
// igraph is a C library with process-wide state: an error handler that by
// default aborts the program, a warning handler that prints, an attribute
// table, and parsers that read numbers in the current locale. Each read
// holds one lock and swaps all four for its own, then puts them back.
//
// The attributes go to a table of our own rather than igraph's "C
// attribute" table: that one keeps two columns of the same name (networkx
// writes one GraphML key per value type, so p=1 and p=0.9 on different
// edges become two "p" columns) but answers look-ups from the first only.
#include <igraph.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

#include "netfile/network_file.hpp"
#include "netfile/text.hpp"

namespace netfile {
namespace {

// Beyond any topology; keeps a stray multi-gigabyte file from being loaded.
constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;

// igraph's readers give every node (link) a cell in every node (link)
// attribute column, whether the file sets it or not, so a file where each
// node has an attribute name of its own asks for memory quadratic in its
// size (80 kB of GML to 700 MB). Cells are allowed in proportion to the
// file; real files use a small fraction of this.
constexpr unsigned long long kCellsFloor = 1ULL << 20;
constexpr unsigned long long kCellsPerByte = 4;

// The label sources, best first.
constexpr std::array<const char*, 3> kNameAttributes = {"label", "name", "id"};

constexpr std::size_t kMaxWarnings = 20;

// ---- What igraph hands to the attribute table while it reads -------------

struct Capture {
  // Per node, the text of label, name and id ("" when missing).
  std::vector<std::array<std::string, kNameAttributes.size()>> names;
  // Per link, its attribute values as text.
  std::vector<std::map<std::string, std::string>> links;
};

Capture* captureOf(const igraph_t* graph) {
  return static_cast<Capture*>(graph->attr);
}

std::optional<std::string> cellText(const igraph_attribute_record_t& record, igraph_integer_t i) {
  switch (record.type) {
    case IGRAPH_ATTRIBUTE_NUMERIC: {
      const auto* values = static_cast<const igraph_vector_t*>(record.value);
      if (values == nullptr || i >= igraph_vector_size(values)) return std::nullopt;
      const double x = VECTOR(*values)[i];
      if (std::isnan(x)) return std::nullopt;  // igraph's mark for "not set"
      return shortestDecimal(x);
    }
    case IGRAPH_ATTRIBUTE_STRING: {
      const auto* values = static_cast<const igraph_strvector_t*>(record.value);
      if (values == nullptr || i >= igraph_strvector_size(values)) return std::nullopt;
      const char* s = igraph_strvector_get(values, i);
      if (s == nullptr || *s == '\0') return std::nullopt;
      return std::string(s);
    }
    case IGRAPH_ATTRIBUTE_BOOLEAN: {
      const auto* values = static_cast<const igraph_vector_bool_t*>(record.value);
      if (values == nullptr || i >= igraph_vector_bool_size(values)) return std::nullopt;
      return std::string(VECTOR(*values)[i] ? "true" : "false");
    }
    default:
      return std::nullopt;
  }
}

template <class Visit>
void forEachRecord(const igraph_vector_ptr_t* attr, Visit visit) {
  if (attr == nullptr) return;
  const igraph_integer_t n = igraph_vector_ptr_size(attr);
  for (igraph_integer_t r = 0; r < n; ++r) {
    const auto* record = static_cast<const igraph_attribute_record_t*>(VECTOR(*attr)[r]);
    if (record != nullptr && record->name != nullptr) visit(*record);
  }
}

igraph_error_t fail(const char* what, igraph_error_t code) {
  igraph_error(what, __FILE__, __LINE__, code);
  return code;
}

// The table's entries are called from C: nothing may throw out of them.
igraph_error_t tableInit(igraph_t* graph, igraph_vector_ptr_t*) {
  graph->attr = new (std::nothrow) Capture;
  return graph->attr ? IGRAPH_SUCCESS : fail("out of memory", IGRAPH_ENOMEM);
}

void tableDestroy(igraph_t* graph) {
  delete captureOf(graph);
  graph->attr = nullptr;
}

igraph_error_t tableCopy(igraph_t* to, const igraph_t* from, igraph_bool_t, igraph_bool_t,
                         igraph_bool_t) {
  try {
    to->attr = new Capture(*captureOf(from));
    return IGRAPH_SUCCESS;
  } catch (...) {
    to->attr = nullptr;
    return fail("out of memory", IGRAPH_ENOMEM);
  }
}

igraph_error_t tableAddVertices(igraph_t* graph, igraph_integer_t count,
                                igraph_vector_ptr_t* attr) {
  try {
    Capture& c = *captureOf(graph);
    const std::size_t first = c.names.size();
    c.names.resize(first + static_cast<std::size_t>(count));
    forEachRecord(attr, [&](const igraph_attribute_record_t& record) {
      for (std::size_t slot = 0; slot < kNameAttributes.size(); ++slot) {
        if (std::strcmp(record.name, kNameAttributes[slot]) != 0) continue;
        for (igraph_integer_t i = 0; i < count; ++i) {
          std::string& name = c.names[first + static_cast<std::size_t>(i)][slot];
          if (!name.empty()) continue;
          if (auto text = cellText(record, i)) name = std::move(*text);
        }
      }
    });
    return IGRAPH_SUCCESS;
  } catch (...) {
    return fail("out of memory", IGRAPH_ENOMEM);
  }
}

igraph_error_t tableAddEdges(igraph_t* graph, const igraph_vector_int_t* edges,
                             igraph_vector_ptr_t* attr) {
  try {
    Capture& c = *captureOf(graph);
    const igraph_integer_t count = igraph_vector_int_size(edges) / 2;
    const std::size_t first = c.links.size();
    c.links.resize(first + static_cast<std::size_t>(count));
    // Two columns of one name: the first that has a value for a link wins.
    forEachRecord(attr, [&](const igraph_attribute_record_t& record) {
      for (igraph_integer_t i = 0; i < count; ++i) {
        auto& values = c.links[first + static_cast<std::size_t>(i)];
        if (values.count(record.name) != 0) continue;
        if (auto text = cellText(record, i)) values.emplace(record.name, std::move(*text));
      }
    });
    return IGRAPH_SUCCESS;
  } catch (...) {
    return fail("out of memory", IGRAPH_ENOMEM);
  }
}

// The readers only build a graph; everything else a table offers answers
// "not supported", so a surprise shows up as a message, not a crash.
igraph_error_t unsupported() {
  return fail("attribute operation not supported by the network reader", IGRAPH_UNIMPLEMENTED);
}

igraph_error_t tableGetInfo(const igraph_t*, igraph_strvector_t* gnames,
                            igraph_vector_int_t* gtypes, igraph_strvector_t* vnames,
                            igraph_vector_int_t* vtypes, igraph_strvector_t* enames,
                            igraph_vector_int_t* etypes) {
  for (igraph_strvector_t* names : {gnames, vnames, enames})
    if (names) igraph_strvector_clear(names);
  for (igraph_vector_int_t* types : {gtypes, vtypes, etypes})
    if (types) igraph_vector_int_clear(types);
  return IGRAPH_SUCCESS;
}

const igraph_attribute_table_t kCaptureTable = {
    tableInit,
    tableDestroy,
    tableCopy,
    tableAddVertices,
    [](const igraph_t*, igraph_t*, const igraph_vector_int_t*) { return unsupported(); },
    [](const igraph_t*, igraph_t*, const igraph_vector_int_list_t*,
       const igraph_attribute_combination_t*) { return unsupported(); },
    tableAddEdges,
    [](const igraph_t*, igraph_t*, const igraph_vector_int_t*) { return unsupported(); },
    [](const igraph_t*, igraph_t*, const igraph_vector_int_list_t*,
       const igraph_attribute_combination_t*) { return unsupported(); },
    tableGetInfo,
    [](const igraph_t*, igraph_attribute_elemtype_t, const char*) -> igraph_bool_t {
      return false;
    },
    [](const igraph_t*, igraph_attribute_type_t*, igraph_attribute_elemtype_t, const char*) {
      return unsupported();
    },
    [](const igraph_t*, const char*, igraph_vector_t*) { return unsupported(); },
    [](const igraph_t*, const char*, igraph_strvector_t*) { return unsupported(); },
    [](const igraph_t*, const char*, igraph_vector_bool_t*) { return unsupported(); },
    [](const igraph_t*, const char*, igraph_vs_t, igraph_vector_t*) { return unsupported(); },
    [](const igraph_t*, const char*, igraph_vs_t, igraph_strvector_t*) { return unsupported(); },
    [](const igraph_t*, const char*, igraph_vs_t, igraph_vector_bool_t*) { return unsupported(); },
    [](const igraph_t*, const char*, igraph_es_t, igraph_vector_t*) { return unsupported(); },
    [](const igraph_t*, const char*, igraph_es_t, igraph_strvector_t*) { return unsupported(); },
    [](const igraph_t*, const char*, igraph_es_t, igraph_vector_bool_t*) { return unsupported(); },
};

// ---- igraph's global state, held for one read ----------------------------

struct Reports {
  std::vector<std::string> errors, warnings;
};
Reports* gReports = nullptr;  // set only while the lock is held

void onError(const char* reason, const char*, int, igraph_error_t) {
  if (gReports != nullptr && reason != nullptr) {
    try {
      gReports->errors.emplace_back(reason);
    } catch (...) {
    }
  }
  // What the failed call had allocated; it then returns the error code.
  IGRAPH_FINALLY_FREE();
}

void onWarning(const char* reason, const char*, int) {
  if (gReports == nullptr || reason == nullptr) return;
  try {
    auto& w = gReports->warnings;
    const std::string line = oneLine(reason);
    if (w.size() < kMaxWarnings && std::find(w.begin(), w.end(), line) == w.end())
      w.push_back(line);
  } catch (...) {
  }
}

std::mutex& igraphLock() {
  static std::mutex m;
  return m;
}

locale_t cLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
  return c;
}

class IgraphSession {
 public:
  explicit IgraphSession(Reports& reports) : lock_(igraphLock()) {
    gReports = &reports;
    error_ = igraph_set_error_handler(onError);
    warning_ = igraph_set_warning_handler(onWarning);
    table_ = igraph_set_attribute_table(&kCaptureTable);
    // igraph reads numbers with strtod: a decimal-comma locale would stop
    // it at the point.
    if (cLocale() != locale_t{}) locale_ = uselocale(cLocale());
  }
  ~IgraphSession() {
    if (locale_ != locale_t{}) uselocale(locale_);
    igraph_set_attribute_table(table_);
    igraph_set_warning_handler(warning_);
    igraph_set_error_handler(error_);
    gReports = nullptr;
  }
  IgraphSession(const IgraphSession&) = delete;
  IgraphSession& operator=(const IgraphSession&) = delete;

 private:
  std::lock_guard<std::mutex> lock_;
  igraph_error_handler_t* error_ = nullptr;
  igraph_warning_handler_t* warning_ = nullptr;
  igraph_attribute_table_t* table_ = nullptr;
  locale_t locale_{};
};

// ---- Before igraph: the format and the attribute cells a file may ask for

bool isGraphml(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return false;
  text.remove_prefix(start);
  return text.substr(0, 5) == "<?xml" || text.substr(0, 8) == "<graphml";
}

struct Shape {
  unsigned long long names = 0;     // distinct attribute names, at most
  unsigned long long elements = 0;  // nodes and links, at most
};

// Counted the way igraph's GML lexer splits the text: strings run from
// quote to quote (across lines), comments from '#' to the end of the line
// (igraph takes them at a line's start only, and rejects a '#' elsewhere),
// a number's exponent is part of it, and every node, link or list opens
// with '['. Any other identifier may be a key.
Shape gmlShape(std::string_view text) {
  const auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  std::unordered_set<std::string_view> names;
  unsigned long long lists = 0;
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c == '"' || c == '#') {
      const std::size_t end = text.find(c == '"' ? '"' : '\n', i + 1);
      i = end == std::string_view::npos ? n : end + 1;
    } else if (c == '[') {
      ++lists;
      ++i;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t end = i;
      while (end < n && word(text[end]))
        ++end;
      names.insert(text.substr(i, end - i));
      i = end;
    } else if (digit(c) || c == '.') {
      while (i < n && (digit(text[i]) || text[i] == '.'))
        ++i;
      if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < n && digit(text[j])) {
          i = j;
          while (i < n && digit(text[i]))
            ++i;
        }
      }
    } else {
      ++i;
    }
  }
  return {names.size(), lists};
}

// GraphML elements are written "<name" or "<prefix:name" (entities are not
// expanded, so no element comes from elsewhere). A link may also bring two
// nodes it names but no <node> declares.
Shape graphmlShape(std::string_view text) {
  auto count = [text](std::string_view word) {
    unsigned long long n = 0;
    for (std::size_t at = text.find(word, 1); at != std::string_view::npos;
         at = text.find(word, at + 1))
      if (text[at - 1] == '<' || text[at - 1] == ':') ++n;
    return n;
  };
  return {count("key"), count("node") + 3 * count("edge")};
}

std::string checkShape(std::string_view text, bool graphml) {
  const Shape s = graphml ? graphmlShape(text) : gmlShape(text);
  const unsigned long long allowed = kCellsFloor + kCellsPerByte * text.size();
  // Both counts are below the file's size, so the product cannot overflow.
  if (s.names * s.elements <= allowed) return "";
  return "refusing to read: up to " + std::to_string(s.names) + " attribute names on up to " +
         std::to_string(s.elements) + " nodes and links would need more memory than a " +
         std::to_string(text.size()) + "-byte file warrants";
}

// ---- After igraph: its messages as one line -------------------------------

// "Line 6: ..." (libxml2, via igraph) or "..., line 3 ..." (igraph's GML).
std::optional<unsigned long long> takeLine(std::string& message) {
  auto digitsAt = [&message](std::size_t at,
                             std::size_t& end) -> std::optional<unsigned long long> {
    unsigned long long n = 0;
    const auto [ptr, ec] = std::from_chars(message.data() + at, message.data() + message.size(), n);
    if (ec != std::errc{}) return std::nullopt;
    end = static_cast<std::size_t>(ptr - message.data());
    return n;
  };
  // Line 0 is libxml2's "before any line", as when the encoding is wrong.
  std::size_t end = 0;
  if (message.rfind("Line ", 0) == 0) {
    if (auto n = digitsAt(5, end)) {
      if (end < message.size() && message[end] == ':') ++end;
      message.erase(0, end);
      return *n ? n : std::nullopt;
    }
  }
  for (std::size_t at = message.find(", line "); at != std::string::npos;
       at = message.find(", line ", at + 1)) {
    if (auto n = digitsAt(at + 7, end)) {
      message.erase(at, end - at);
      return *n ? n : std::nullopt;
    }
  }
  return std::nullopt;
}

std::string describeFailure(const std::vector<std::string>& errors, igraph_error_t code) {
  std::optional<unsigned long long> line;
  std::string reason;
  for (const std::string& raw : errors) {
    std::string m = oneLine(raw);
    const auto n = takeLine(m);
    if (!line) line = n;
    // "Parse error in GML file (syntax error, unexpected ...)": the detail.
    if (m.rfind("Parse error", 0) == 0) {
      const std::size_t open = m.find('('), close = m.rfind(')');
      if (open != std::string::npos && close != std::string::npos && close > open + 1)
        m = m.substr(open + 1, close - open - 1);
      if (m == "failed") m.clear();  // the lexer said why, before this
    }
    if (m == "Graph index was too large.") m = "no GraphML <graph> element";
    m = trimmed(m);
    while (!m.empty() && m.back() == '.')
      m.pop_back();
    if (reason.empty()) reason = m;
  }
  if (reason.empty()) reason = igraph_strerror(code);
  // igraph writes sentences; as a clause after "line N:" a capital jars.
  if (reason.size() > 1 && std::isupper(static_cast<unsigned char>(reason[0])) &&
      std::islower(static_cast<unsigned char>(reason[1])))
    reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  return line ? "line " + std::to_string(*line) + ": " + reason : reason;
}

// ---- The read -------------------------------------------------------------

// fmemopen in glibc reads its buffer as binary, NUL bytes included.
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

std::string readWithIgraph(std::string_view text, bool graphml, Network& out) {
  std::string buffer(text);  // fmemopen wants a mutable buffer
  Reports reports;
  IgraphSession session(reports);
  std::unique_ptr<FILE, FileCloser> in(fmemopen(buffer.data(), buffer.size(), "r"));
  if (!in) return std::string("cannot read the text in memory: ") + std::strerror(errno);
  igraph_t graph;
  const igraph_error_t code = graphml ? igraph_read_graph_graphml(&graph, in.get(), 0)
                                      : igraph_read_graph_gml(&graph, in.get());
  out.warnings = std::move(reports.warnings);
  if (code != IGRAPH_SUCCESS) return describeFailure(reports.errors, code);
  // From here on the graph is ours to destroy.
  struct Destroyer {
    igraph_t* g;
    ~Destroyer() { igraph_destroy(g); }
  } destroyer{&graph};

  const igraph_integer_t n = igraph_vcount(&graph), m = igraph_ecount(&graph);
  if (n > INT32_MAX) return "more nodes than fit an int";
  Capture empty;
  Capture& c = graph.attr ? *captureOf(&graph) : empty;
  c.names.resize(static_cast<std::size_t>(n));
  c.links.resize(static_cast<std::size_t>(m));
  out.labels.reserve(static_cast<std::size_t>(n));
  for (igraph_integer_t v = 0; v < n; ++v) {
    auto& names = c.names[static_cast<std::size_t>(v)];
    const auto found = std::find_if(names.begin(), names.end(), [](auto& s) { return !s.empty(); });
    out.labels.push_back(found != names.end() ? std::move(*found) : std::to_string(v));
  }
  out.links.reserve(static_cast<std::size_t>(m));
  for (igraph_integer_t e = 0; e < m; ++e) {
    igraph_integer_t from = 0, to = 0;
    igraph_edge(&graph, e, &from, &to);
    Network::Link link;
    link.u = static_cast<int>(std::min(from, to));
    link.v = static_cast<int>(std::max(from, to));
    link.attributes = std::move(c.links[static_cast<std::size_t>(e)]);
    out.links.push_back(std::move(link));
  }
  return "";
}

}  // namespace

std::string readNetworkText(std::string_view text, Network& out) {
  out = Network{};
  if (text.size() > kMaxFileBytes)
    return "the file is larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB";
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return "the file is empty";
  const bool graphml = isGraphml(text);
  if (std::string bad = checkShape(text, graphml); !bad.empty()) return bad;
  try {
    std::string bad = readWithIgraph(text, graphml, out);
    if (!bad.empty()) {
      auto warnings = std::move(out.warnings);
      out = Network{};
      out.warnings = std::move(warnings);
    }
    return bad;
  } catch (const std::bad_alloc&) {
    out = Network{};
    return "out of memory";
  }
}

std::string readNetwork(const std::string& path, Network& out) {
  out = Network{};
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return "cannot read: it is a directory";
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string("cannot open: ") + std::strerror(errno);
  // Read in pieces, not by the size the file claims: a pipe has none.
  std::string text;
  char piece[1 << 16];
  while (in.read(piece, sizeof piece) || in.gcount() > 0) {
    text.append(piece, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes)
      return "the file is larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB";
  }
  if (in.bad()) return "cannot read the file";
  return readNetworkText(text, out);
}

}  // namespace netfile
