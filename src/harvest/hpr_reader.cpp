// Reading a StanForD 2010 harvested-production file with pugixml. Only the
// elements listed in xylotrak.h are read; every other element, and every
// category or rule this library does not carry, becomes a note, never a
// guess.
//
// Element names follow the StanForD 2010 schema (namespace
// urn:skogforsk:stanford2010) as two code transcriptions generated from its
// XSD give them (C# by xsd.exe, Rust serde types): DiameterClassMAX and
// DiameterUnderBark inside DiameterClasses with the attribute
// diameterClassCategory (Top, Midpoint); LengthClass directly in
// LengthDefinition; the volume rules in PriceDefinition; PermittedGradesDefinition/
// PermittedGradeNumber; StemGrade/GradeValue with the attribute
// gradeStartPosition; LogDiameter inside LogMeasurement; BuckingCriteria's
// enumeration ("No limit", ...); BarkFunction's attribute
// barkFunctionCategory. The names an earlier version of this reader used
// (DiameterTopPositionOrMid, LengthClasses, PermittedGrades/GradeValue, ...)
// are still read, so that files written for it keep their meaning.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "harvest/hpr.h"

void xylotrak_hpr::note(const std::string &message, int line) {
  const auto [it, fresh] = noteIndex.try_emplace(message, notes.size());
  if (fresh) {
    xylotrak::harvest::HprNote n;
    n.record.line = line;
    n.record.count = 1;
    n.message = message;
    notes.push_back(std::move(n));
  } else {
    ++notes[it->second].record.count;
  }
}

void xylotrak_hpr::link() {
  for (auto &p : products) {
    auto &m = p.record.matrix;
    m.diameterLimits = p.diameterLimits.data();
    m.lengthLimits = p.lengthLimits.data();
    m.prices = p.prices.data();
    m.cells = p.cells.data();
    m.grades = p.grades.data();
  }
  for (auto &s : stems) {
    auto &m = s.record.stem;
    m.positions = s.positions.data();
    m.diameters = s.diameters.data();
    m.barkPositions = s.barkPositions.data();
    m.barkThickness = s.bark.data();
    m.gradeStarts = s.gradeStarts.data();
    m.grades = s.grades.data();
  }
}

namespace xylotrak::harvest {
namespace {

std::string_view localName(const pugi::xml_node &n) {
  std::string_view name = n.name();
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view trimmed(const char *text) {
  std::string_view v = text;
  while (!v.empty() && std::strchr(" \t\r\n", v.front()) != nullptr) v.remove_prefix(1);
  while (!v.empty() && std::strchr(" \t\r\n", v.back()) != nullptr) v.remove_suffix(1);
  return v;
}

class Reader {
 public:
  Reader(const char *data, std::size_t size, xylotrak_hpr &file) : file_(file) {
    for (std::size_t i = 0; i < size; ++i)
      if (data[i] == '\n') newlines_.push_back(static_cast<std::ptrdiff_t>(i));
  }

  int line(const pugi::xml_node &n) const {
    const std::ptrdiff_t offset = n.offset_debug();
    if (offset < 0) return 0;
    return static_cast<int>(std::lower_bound(newlines_.begin(), newlines_.end(), offset) -
                            newlines_.begin()) +
           1;
  }
  int lineAt(std::ptrdiff_t offset) const {
    return static_cast<int>(std::lower_bound(newlines_.begin(), newlines_.end(), offset) -
                            newlines_.begin()) +
           1;
  }

  [[noreturn]] void fail(const pugi::xml_node &n, const std::string &what) const {
    throw MalformedFile("line " + std::to_string(line(n)) + ": element '" +
                        std::string(localName(n)) + "': " + what);
  }

  double number(const pugi::xml_node &n, const char *text) const {
    const std::string s(trimmed(text));
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v))
      fail(n, "expected a number, got \"" + s.substr(0, 40) + "\"");
    return v;
  }
  double number(const pugi::xml_node &n) const { return number(n, n.child_value()); }

  std::int64_t key(const pugi::xml_node &n) const {
    const std::string s(trimmed(n.child_value()));
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (s.empty() || end != s.c_str() + s.size() || errno == ERANGE)
      fail(n, "expected an integer key, got \"" + s.substr(0, 40) + "\"");
    return v;
  }

  bool flag(const pugi::xml_node &n) const {
    const std::string_view v = trimmed(n.child_value());
    if (v == "true" || v == "1") return true;
    if (v == "false" || v == "0") return false;
    fail(n, "expected true or false, got \"" + std::string(v.substr(0, 40)) + "\"");
  }

  // An element this reader does not read, noted once per parent and name.
  void skipped(const pugi::xml_node &n, std::string_view parent) {
    file_.note(
        "element '" + std::string(localName(n)) + "' in '" + std::string(parent) + "' is not read",
        line(n));
  }

  void species(const pugi::xml_node &node) {
    HprSpecies s;
    bool keyed = false;
    for (const auto &c : node.children()) {
      if (c.type() != pugi::node_element) continue;
      const auto name = localName(c);
      if (name == "SpeciesGroupKey") {
        s.record.key = key(c);
        keyed = true;
      } else if (name == "SpeciesGroupName") {
        s.name = std::string(trimmed(c.child_value()));
      } else if (name == "BarkFunction") {
        // The schema's categories are None, Swedish Zacco, German,
        // GermanDistanceBased, Skogforsk 2004 Scots pine and Norway spruce,
        // with their parameters in a child element. No published definition
        // of their formulas could be found to cite, so none is applied: the
        // bark comes from the logs' over- and under-bark diameters.
        std::string kind(trimmed(c.attribute("barkFunctionCategory").value()));
        if (kind.empty())
          for (const auto &f : c.children())
            if (f.type() == pugi::node_element) kind = std::string(localName(f));
        if (kind == "None") continue;
        s.record.barkFunction = 1;
        file_.note("bark function '" + kind + "' is not applied (the bark comes from the logs)",
                   line(c));
      } else {
        skipped(c, "SpeciesGroupDefinition");
      }
    }
    if (!keyed) fail(node, "no SpeciesGroupKey");
    file_.species.push_back(std::move(s));
  }

  void unsupported(HprProduct &p, const std::string &why, const pugi::xml_node &n) {
    if (p.unsupported.empty()) p.unsupported = why;
    file_.note(why, line(n));
  }

  // DiameterClassMAX and DiameterUnderBark: in DiameterClasses (the schema)
  // or, as an earlier version of this reader had them, in DiameterDefinition.
  bool diameterLimit(const pugi::xml_node &c, HprProduct &p, bool &haveMax) {
    const auto name = localName(c);
    if (name == "DiameterClassMAX") {
      p.record.matrix.diameterMax = number(c);
      haveMax = true;
    } else if (name == "DiameterUnderBark") {
      p.record.matrix.diameterUnderBark = flag(c) ? 1 : 0;
    } else {
      return false;
    }
    return true;
  }

  void diameterDefinition(const pugi::xml_node &node, HprProduct &p, bool &haveMax) {
    auto &m = p.record.matrix;
    for (const auto &c : node.children()) {
      if (c.type() != pugi::node_element) continue;
      const auto name = localName(c);
      if (name == "DiameterClasses") {
        if (const auto category = c.attribute("diameterClassCategory")) {
          const auto v = trimmed(category.value());
          if (v == "Top") {
            m.diameterPosition = XYLOTRAK_DIAMETER_TOP;
          } else if (v == "Midpoint") {
            m.diameterPosition = XYLOTRAK_DIAMETER_MID;
          } else {
            unsupported(p, "diameter class category '" + std::string(v) + "' is not supported", c);
          }
        }
        for (const auto &d : c.children()) {
          if (d.type() != pugi::node_element) continue;
          if (diameterLimit(d, p, haveMax)) continue;
          if (localName(d) != "DiameterClass") {
            skipped(d, "DiameterClasses");
            continue;
          }
          bool found = false;
          for (const auto &l : d.children()) {
            if (l.type() != pugi::node_element) continue;
            if (localName(l) == "DiameterClassLowerLimit") {
              p.diameterLimits.push_back(number(l));
              found = true;
            } else {
              skipped(l, "DiameterClass");
            }
          }
          if (!found) fail(d, "no DiameterClassLowerLimit");
        }
      } else if (diameterLimit(c, p, haveMax)) {
      } else if (name == "DiameterTopPositionOrMid") {  // an earlier version's name
        const auto v = trimmed(c.child_value());
        if (v == "Top") {
          m.diameterPosition = XYLOTRAK_DIAMETER_TOP;
        } else if (v == "Mid") {
          m.diameterPosition = XYLOTRAK_DIAMETER_MID;
        } else if (v == "Butt") {
          m.diameterPosition = XYLOTRAK_DIAMETER_BUTT;
        } else {
          unsupported(p, "diameter position '" + std::string(v) + "' is not supported", c);
        }
      } else {
        skipped(c, "DiameterDefinition");
      }
    }
  }

  void lengthClass(const pugi::xml_node &d, HprProduct &p) {
    bool found = false;
    for (const auto &l : d.children()) {
      if (l.type() != pugi::node_element) continue;
      if (localName(l) == "LengthClassLowerLimit") {
        p.lengthLimits.push_back(number(l));
        found = true;
      } else {
        skipped(l, "LengthClass");
      }
    }
    if (!found) fail(d, "no LengthClassLowerLimit");
  }

  void lengthDefinition(const pugi::xml_node &node, HprProduct &p, bool &haveMax) {
    for (const auto &c : node.children()) {
      if (c.type() != pugi::node_element) continue;
      const auto name = localName(c);
      if (name == "LengthClass") {  // the schema: directly in LengthDefinition
        lengthClass(c, p);
      } else if (name == "LengthClasses") {  // an earlier version's wrapper
        for (const auto &d : c.children()) {
          if (d.type() != pugi::node_element) continue;
          if (localName(d) != "LengthClass") {
            skipped(d, "LengthClasses");
            continue;
          }
          lengthClass(d, p);
        }
      } else if (name == "LengthClassMAX") {
        p.record.matrix.lengthMax = number(c);
        haveMax = true;
      } else {
        skipped(c, "LengthDefinition");
      }
    }
  }

  struct Cell {
    double diameter, length, price;
    int code;
    pugi::xml_node node;
  };

  void matrixItems(const pugi::xml_node &node, HprProduct &p, std::vector<Cell> &cells) {
    for (const auto &item : node.children()) {
      if (item.type() != pugi::node_element) continue;
      if (localName(item) != "ProductMatrixItem") {
        skipped(item, "ProductMatrixes");
        continue;
      }
      const auto d = item.attribute("diameterClassLowerLimit");
      const auto l = item.attribute("lengthClassLowerLimit");
      if (!d || !l) fail(item, "needs diameterClassLowerLimit and lengthClassLowerLimit");
      Cell cell{number(item, d.value()), number(item, l.value()), 0, XYLOTRAK_CELL_OPEN, item};
      bool priced = false;
      for (const auto &c : item.children()) {
        if (c.type() != pugi::node_element) continue;
        const auto name = localName(c);
        if (name == "Price") {
          cell.price = number(c);
          priced = true;
        } else if (name == "BuckingCriteria") {
          // The schema's enumeration; the second value bars only apportionment
          // bucking, which this library does not do, and allows bucking by
          // value. Allowed, Manual and Forbidden: an earlier version's names.
          const auto v = trimmed(c.child_value());
          if (v == "No limit" || v == "Allowed" ||
              v == "The log is excluded from apportionment bucking,only bucking according to "
                   "value allowed") {
            cell.code = XYLOTRAK_CELL_OPEN;
          } else if (v == "Only logs bucked manually allowed" || v == "Manual") {
            cell.code = XYLOTRAK_CELL_HAND_ONLY;
          } else if (v == "Forbidden to buck the log even manually" || v == "Forbidden") {
            cell.code = XYLOTRAK_CELL_FORBIDDEN;
          } else {
            unsupported(p, "bucking criteria '" + std::string(v) + "' is not supported", c);
          }
        } else {
          skipped(c, "ProductMatrixItem");
        }
      }
      if (!priced) fail(item, "no Price");
      cells.push_back(cell);
    }
  }

  // A volume rule of a product (in PriceDefinition, or where an earlier
  // version of this reader had it); false for any other element.
  bool volumeRule(const pugi::xml_node &r, HprProduct &p) {
    auto &m = p.record.matrix;
    const auto n = localName(r);
    if (n == "VolumeDiameterCategory") {
      // "Calculated Norwegian mid" and "Calculated Estonian mid" are left
      // unsupported: no published definition of how they compute the mid
      // diameter could be found. A top diameter taken elsewhere than at the
      // top (volumeDiameterTopPosition, cm) is not carried either.
      const auto v = trimmed(r.child_value());
      const std::string_view at = trimmed(r.attribute("volumeDiameterTopPosition").value());
      if (!at.empty() && at != "0")
        unsupported(p, "volume diameter top position " + std::string(at) + " is not supported", r);
      if (v == "All diameters (solid volume)") {
        m.volumeRule = XYLOTRAK_VOLUME_SOLID;
      } else if (v == "Mid") {
        m.volumeRule = XYLOTRAK_VOLUME_MID;
      } else if (v == "Top") {
        m.volumeRule = XYLOTRAK_VOLUME_TOP;
      } else {
        unsupported(p, "volume rule '" + std::string(v) + "' is not supported", r);
      }
    } else if (n == "VolumeLengthCategory") {
      const auto v = trimmed(r.child_value());
      if (v == "Physical length cm") {
        m.volumeLength = XYLOTRAK_VOLUME_LENGTH_PHYSICAL;
      } else if (v == "Length as defined in LengthClasses") {
        m.volumeLength = XYLOTRAK_VOLUME_LENGTH_CLASS;
      } else if (v == "Rounded downwards to nearest dm-module") {
        m.volumeLength = XYLOTRAK_VOLUME_LENGTH_DM;
      } else {
        unsupported(p, "volume length '" + std::string(v) + "' is not supported", r);
      }
    } else if (n == "VolumeUnderBark") {
      m.volumeUnderBark = flag(r) ? 1 : 0;
    } else if (n == "VolumeDiameterAdjustment") {
      const auto v = trimmed(r.child_value());
      if (v != "Measured diameter in mm")
        unsupported(p, "volume diameter adjustment '" + std::string(v) + "' is not supported", r);
    } else {
      return false;
    }
    return true;
  }

  void product(const pugi::xml_node &node) {
    HprProduct p;
    p.record.supported = 1;
    auto &m = p.record.matrix;
    m.priceBasis = XYLOTRAK_PRICE_PER_M3;
    m.volumeRule = XYLOTRAK_VOLUME_SOLID;
    m.volumeLength = XYLOTRAK_VOLUME_LENGTH_PHYSICAL;
    bool keyed = false, classified = false, haveDMax = false, haveLMax = false;
    std::vector<Cell> cells;
    pugi::xml_node where = node;
    for (const auto &c : node.children()) {
      if (c.type() != pugi::node_element) continue;
      const auto name = localName(c);
      if (name == "ProductKey") {
        p.record.key = key(c);
        keyed = true;
      } else if (name == "ClassifiedProductDefinition") {
        classified = true;
        where = c;
        for (const auto &d : c.children()) {
          if (d.type() != pugi::node_element) continue;
          const auto n = localName(d);
          if (n == "ProductName") {
            p.name = std::string(trimmed(d.child_value()));
          } else if (n == "SpeciesGroupKey") {
            p.record.speciesGroupKey = key(d);
          } else if (n == "DiameterDefinition") {
            diameterDefinition(d, p, haveDMax);
          } else if (n == "LengthDefinition") {
            lengthDefinition(d, p, haveLMax);
          } else if (n == "ProductMatrixes") {
            matrixItems(d, p, cells);
          } else if (n == "PriceCategory") {
            const auto v = trimmed(d.child_value());
            if (v == "Price/m3") {
              m.priceBasis = XYLOTRAK_PRICE_PER_M3;
            } else if (v == "Price/log") {
              m.priceBasis = XYLOTRAK_PRICE_PER_LOG;
            } else {
              unsupported(p, "price category '" + std::string(v) + "' is not supported", d);
            }
          } else if (n == "PriceDefinition") {  // the schema's place of the volume rules
            for (const auto &r : d.children())
              if (r.type() == pugi::node_element && !volumeRule(r, p))
                skipped(r, "PriceDefinition");
          } else if (volumeRule(d, p)) {  // an earlier version had them here
          } else if (n == "PermittedGradesDefinition") {
            for (const auto &g : d.children()) {
              if (g.type() != pugi::node_element) continue;
              if (localName(g) != "PermittedGradeNumber") {
                skipped(g, "PermittedGradesDefinition");
                continue;
              }
              p.grades.push_back(static_cast<std::int32_t>(key(g)));
            }
          } else if (n == "PermittedGrades") {  // an earlier version's name
            for (const auto &g : d.children()) {
              if (g.type() != pugi::node_element) continue;
              if (localName(g) != "GradeValue") {
                skipped(g, "PermittedGrades");
                continue;
              }
              p.grades.push_back(static_cast<std::int32_t>(key(g)));
            }
          } else {
            skipped(d, "ClassifiedProductDefinition");
          }
        }
      } else {
        skipped(c, "ProductDefinition");
      }
    }
    if (!keyed) fail(node, "no ProductKey");
    if (!classified) {
      p.record.supported = 0;
      p.unsupported = "product " + std::to_string(p.record.key) + " has no classified definition";
      file_.note("a product without ClassifiedProductDefinition is not supported", line(node));
    } else {
      if (!haveDMax || p.diameterLimits.empty()) fail(where, "needs diameter classes and a MAX");
      if (!haveLMax || p.lengthLimits.empty()) fail(where, "needs length classes and a MAX");
      std::sort(p.diameterLimits.begin(), p.diameterLimits.end());
      std::sort(p.lengthLimits.begin(), p.lengthLimits.end());
      if (std::adjacent_find(p.diameterLimits.begin(), p.diameterLimits.end()) !=
              p.diameterLimits.end() ||
          std::adjacent_find(p.lengthLimits.begin(), p.lengthLimits.end()) != p.lengthLimits.end())
        fail(where, "a class lower limit is given twice");
      if (!(m.diameterMax > p.diameterLimits.back()) || !(m.lengthMax > p.lengthLimits.back()))
        fail(where, "a class MAX is not above the last lower limit");
      if (p.diameterLimits.front() < 0 || p.lengthLimits.front() < 0)
        fail(where, "a class lower limit is negative");
      const std::size_t nd = p.diameterLimits.size(), nl = p.lengthLimits.size();
      p.prices.assign(nd * nl, 0.0);
      p.cells.assign(nd * nl, XYLOTRAK_CELL_FORBIDDEN);  // a cell without an item
      for (const auto &cell : cells) {
        const auto di = std::find(p.diameterLimits.begin(), p.diameterLimits.end(), cell.diameter);
        const auto li = std::find(p.lengthLimits.begin(), p.lengthLimits.end(), cell.length);
        if (di == p.diameterLimits.end() || li == p.lengthLimits.end())
          fail(cell.node, "its class limits are not among the product's classes");
        const auto k = static_cast<std::size_t>(di - p.diameterLimits.begin()) * nl +
                       static_cast<std::size_t>(li - p.lengthLimits.begin());
        p.prices[k] = cell.price;
        p.cells[k] = static_cast<std::int8_t>(cell.code);
      }
      m.diameterClassCount = static_cast<std::int32_t>(nd);
      m.lengthClassCount = static_cast<std::int32_t>(nl);
      m.gradeCount = static_cast<std::int32_t>(p.grades.size());
    }
    if (!p.unsupported.empty()) {
      p.record.supported = 0;
      m.volumeRule = -1;
    }
    file_.products.push_back(std::move(p));
    productLines_.push_back(line(node));
  }

  static int diameterIndex(std::string_view c) {
    static constexpr std::pair<std::string_view, int> kNames[] = {
        {"Butt ob", XYLOTRAK_HPR_BUTT_OB}, {"Butt ub", XYLOTRAK_HPR_BUTT_UB},
        {"Mid ob", XYLOTRAK_HPR_MID_OB},   {"Mid ub", XYLOTRAK_HPR_MID_UB},
        {"Top ob", XYLOTRAK_HPR_TOP_OB},   {"Top ub", XYLOTRAK_HPR_TOP_UB}};
    for (const auto &[name, index] : kNames)
      if (name == c) return index;
    return -1;
  }

  static int volumeIndex(std::string_view c) {
    if (c == "m3 (price)") return XYLOTRAK_HPR_M3_PRICE;
    if (c == "m3sob") return XYLOTRAK_HPR_M3SOB;
    if (c == "m3sub") return XYLOTRAK_HPR_M3SUB;
    return -1;
  }

  void logDiameter(const pugi::xml_node &c, xylotrak_hpr_log &l) {
    const std::string_view category = c.attribute("logDiameterCategory").value();
    const int i = diameterIndex(category);
    if (i < 0) {
      file_.note("log diameter category '" + std::string(category) + "' is not read", line(c));
    } else {
      l.diameters[i] = number(c);
    }
  }

  void log(const pugi::xml_node &node, std::int64_t stemRow, double &at) {
    xylotrak_hpr_log l{};
    l.stem = stemRow;
    l.product = -1;
    for (double &d : l.diameters) d = std::nan("");
    for (double &v : l.volumes) v = std::nan("");
    bool haveLength = false, haveProduct = false;
    for (const auto &c : node.children()) {
      if (c.type() != pugi::node_element) continue;
      const auto name = localName(c);
      if (name == "LogKey") {
        l.logKey = static_cast<std::int32_t>(key(c));
      } else if (name == "ProductKey") {
        l.productKey = key(c);
        haveProduct = true;
      } else if (name == "LogDiameter") {  // an earlier version had it here
        logDiameter(c, l);
      } else if (name == "LogVolume") {
        const std::string_view category = c.attribute("logVolumeCategory").value();
        const int i = volumeIndex(category);
        if (i < 0) {
          file_.note("log volume category '" + std::string(category) + "' is not read", line(c));
        } else {
          l.volumes[i] = number(c);
        }
      } else if (name == "LogMeasurement") {
        for (const auto &m : c.children()) {
          if (m.type() != pugi::node_element) continue;
          if (localName(m) == "LogLength") {
            l.lengthCm = number(m);
            haveLength = true;
          } else if (localName(m) == "LogDiameter") {  // the schema's place
            logDiameter(m, l);
          } else {
            skipped(m, "LogMeasurement");
          }
        }
      } else {
        skipped(c, "Log");
      }
    }
    if (!haveLength) fail(node, "no LogMeasurement/LogLength");
    if (!haveProduct) fail(node, "no ProductKey");
    if (!(l.lengthCm > 0)) fail(node, "its length is not above 0");
    l.startCm = at;
    at = at + l.lengthCm;
    file_.logs.push_back(l);
    logLines_.push_back(line(node));
  }

  void stem(const pugi::xml_node &node) {
    HprStem s;
    s.record.dbhMm = std::nan("");
    const auto row = static_cast<std::int64_t>(file_.stems.size());
    s.record.firstLog = static_cast<std::int64_t>(file_.logs.size());
    bool keyed = false;
    std::vector<std::pair<double, double>> diameters;
    std::vector<std::pair<double, std::int32_t>> grades;
    for (const auto &c : node.children()) {
      if (c.type() != pugi::node_element) continue;
      const auto name = localName(c);
      if (name == "StemKey") {
        s.record.key = key(c);
        keyed = true;
      } else if (name == "SpeciesGroupKey") {
        s.record.speciesGroupKey = key(c);
      } else if (name == "SingleTreeProcessedStem") {
        double at = 0;
        for (const auto &d : c.children()) {
          if (d.type() != pugi::node_element) continue;
          const auto n = localName(d);
          if (n == "DBH") {
            s.record.dbhMm = number(d);
          } else if (n == "StemGrade") {
            double start = 0;
            std::int32_t grade = 0;
            bool haveGrade = false, haveStart = false;
            for (const auto &g : d.children()) {
              if (g.type() != pugi::node_element) continue;
              if (localName(g) == "GradeValue") {
                grade = static_cast<std::int32_t>(key(g));
                haveGrade = true;
                // The schema: the start as the attribute gradeStartPosition (cm).
                if (const auto at = g.attribute("gradeStartPosition")) {
                  start = number(g, at.value());
                  haveStart = true;
                }
              } else if (localName(g) == "GradeStartPosition") {  // an earlier version's element
                start = number(g);
                haveStart = true;
              } else {
                skipped(g, "StemGrade");
              }
            }
            if (!haveGrade || !haveStart) fail(d, "needs a GradeValue and its gradeStartPosition");
            grades.emplace_back(start, grade);
          } else if (n == "StemDiameters") {
            for (const auto &v : d.children()) {
              if (v.type() != pugi::node_element) continue;
              if (localName(v) != "DiameterValue") {
                skipped(v, "StemDiameters");
                continue;
              }
              const auto position = v.attribute("diameterPosition");
              if (!position) fail(v, "no diameterPosition");
              const double x = number(v, position.value());
              const double y = number(v);
              if (y < 0) fail(v, "a diameter below 0");
              diameters.emplace_back(x, y);
            }
          } else if (n == "Log") {
            log(d, row, at);
          } else {
            skipped(d, "SingleTreeProcessedStem");
          }
        }
      } else {
        skipped(c, "Stem");
      }
    }
    if (!keyed) fail(node, "no StemKey");
    std::stable_sort(diameters.begin(), diameters.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &[x, y] : diameters) {
      if (!s.positions.empty() && x == s.positions.back()) {
        file_.note("a stem diameter position given twice: the first is kept", line(node));
        continue;
      }
      s.positions.push_back(x);
      s.diameters.push_back(y);
    }
    std::stable_sort(grades.begin(), grades.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &[x, g] : grades) {
      if (!s.gradeStarts.empty() && x == s.gradeStarts.back()) {
        s.grades.back() = g;  // the later zone starting there is the one that holds
        continue;
      }
      s.gradeStarts.push_back(x);
      s.grades.push_back(g);
    }
    s.record.logCount =
        static_cast<std::int32_t>(static_cast<std::int64_t>(file_.logs.size()) - s.record.firstLog);
    barkFromLogs(s);
    auto &m = s.record.stem;
    m.pointCount = static_cast<std::int32_t>(s.positions.size());
    m.barkCount = static_cast<std::int32_t>(s.barkPositions.size());
    m.gradeCount = static_cast<std::int32_t>(s.gradeStarts.size());
    file_.stems.push_back(std::move(s));
  }

  // The double bark thickness where a log gives both diameters at one place.
  void barkFromLogs(HprStem &s) {
    std::vector<std::pair<double, double>> points;
    for (auto i = static_cast<std::size_t>(s.record.firstLog); i < file_.logs.size(); ++i) {
      const auto &l = file_.logs[i];
      const double at[3] = {l.startCm, l.startCm + 0.5 * l.lengthCm, l.startCm + l.lengthCm};
      for (std::size_t k = 0; k < 3; ++k) {
        const double ob = l.diameters[2 * k], ub = l.diameters[2 * k + 1];
        if (std::isnan(ob) || std::isnan(ub)) continue;
        points.emplace_back(at[k], ob > ub ? ob - ub : 0);
      }
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &[x, b] : points) {
      if (!s.barkPositions.empty() && x == s.barkPositions.back()) continue;
      s.barkPositions.push_back(x);
      s.bark.push_back(b);
    }
  }

  void machine(const pugi::xml_node &node) {
    for (const auto &c : node.children()) {
      if (c.type() != pugi::node_element) continue;
      const auto name = localName(c);
      if (name == "SpeciesGroupDefinition") {
        species(c);
      } else if (name == "ProductDefinition") {
        product(c);
      } else if (name == "Stem") {
        stem(c);
      } else {
        skipped(c, "Machine");
      }
    }
  }

  void root(const pugi::xml_node &node) {
    if (localName(node) != "HarvestedProduction")
      fail(node, "the root element is not HarvestedProduction");
    for (const auto &c : node.children()) {
      if (c.type() != pugi::node_element) continue;
      if (localName(c) == "Machine") {
        machine(c);
      } else {
        skipped(c, "HarvestedProduction");
      }
    }
  }

  void resolve() {
    for (std::size_t p = 0; p < file_.products.size(); ++p)
      for (std::size_t q = 0; q < p; ++q)
        if (file_.products[q].record.key == file_.products[p].record.key)
          throw MalformedFile("line " + std::to_string(productLines_[p]) +
                              ": element 'ProductDefinition': product key " +
                              std::to_string(file_.products[p].record.key) +
                              " is defined twice (first on line " +
                              std::to_string(productLines_[q]) + ")");
    for (std::size_t i = 0; i < file_.logs.size(); ++i) {
      auto &l = file_.logs[i];
      for (std::size_t p = 0; p < file_.products.size(); ++p) {
        if (file_.products[p].record.key == l.productKey) {
          l.product = static_cast<std::int32_t>(p);
          break;
        }
      }
      if (l.product < 0)
        file_.note("a log's product key " + std::to_string(l.productKey) + " is not defined",
                   logLines_[i]);
    }
  }

 private:
  xylotrak_hpr &file_;
  std::vector<std::ptrdiff_t> newlines_;
  std::vector<int> productLines_, logLines_;  // of each product and log read
};

}  // namespace

void parseHpr(const char *data, std::size_t size, xylotrak_hpr &file) {
  pugi::xml_document doc;
  Reader reader(data, size, file);
  const pugi::xml_parse_result result =
      doc.load_buffer(data, size, pugi::parse_default, pugi::encoding_auto);
  if (!result) {
    throw MalformedFile("line " + std::to_string(reader.lineAt(result.offset)) +
                        ": not well-formed XML: " + result.description());
  }
  const pugi::xml_node root = doc.document_element();
  if (!root) throw MalformedFile("line 1: no root element");
  reader.root(root);
  reader.resolve();
  file.link();
}

}  // namespace xylotrak::harvest
