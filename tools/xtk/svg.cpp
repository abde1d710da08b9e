#include "svg.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "format.h"
#include "report.h"

namespace xtk {

namespace {

constexpr double kWidth = 1200, kLeft = 90, kRight = 50;
constexpr double kMaxRadiusPx = 62;
constexpr double kPanelHeight = 330;
constexpr size_t kLabelLevels = 3;

const char *const kPalette[] = {"#c8823c", "#e6c36a", "#9cc58a", "#7fb3d5",
                                "#c39bd3", "#f0a18c", "#8fd1c8", "#d4b483"};
const char *productColour(int number) { return kPalette[(number - 1) % 8]; }

std::string px(double v) { return fixed(v, 1); }

std::string trimmed(double v, int decimals) {
  std::string s = fixed(v, decimals);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s;
}

std::string basisText(int basis) {
  switch (basis) {
    case 0:
      return "/m\u00b3";
    case 1:
      return "/m";
    case 2:
      return "/log";
    default:
      return " (no value)";
  }
}

// The drawing scale of one tree, shared by all panels.
struct Scale {
  double height;  // m
  double kx;      // px per m along the stem
  double ky;      // px per cm of diameter
  const Tree *tree;
  double x(double h) const { return kLeft + std::clamp(h, 0.0, height) * kx; }
  double half(double h) const { return 0.5 * diameterAt(*tree, std::clamp(h, 0.0, height)) * ky; }
};

// The outline between two heights as a closed polygon: upper half left to
// right, lower half back.
std::string sectionPoints(const Scale &s, double y0, double from, double to) {
  from = std::clamp(from, 0.0, s.height);
  to = std::clamp(to, 0.0, s.height);
  // The ends, and between them the points of a grid of 400 steps along the stem.
  std::vector<double> hs{from};
  const double step = s.height / 400;
  for (auto k = static_cast<int>(std::ceil(from / step)); k * step < to; ++k)
    if (k * step > from) hs.push_back(k * step);
  hs.push_back(to);
  std::vector<double> r;
  r.reserve(hs.size());
  for (double h : hs) r.push_back(s.half(h));
  std::string pts;
  for (size_t i = 0; i < hs.size(); ++i) pts += px(s.x(hs[i])) + "," + px(y0 - r[i]) + " ";
  for (size_t i = hs.size(); i-- > 0;) pts += px(s.x(hs[i])) + "," + px(y0 + r[i]) + " ";
  pts.pop_back();
  return pts;
}

void polygon(std::ostringstream &o, const char *cls, const std::string &pts,
             const std::string &extra, const std::string &title) {
  o << "    <polygon class=\"" << cls << "\" points=\"" << pts << "\"" << extra << ">";
  if (!title.empty()) o << "<title>" << xmlEscape(title) << "</title>";
  o << "</polygon>\n";
}

void text(std::ostringstream &o, double x, double y, const std::string &cls,
          const std::string &content, const char *anchor = "middle") {
  o << "    <text class=\"" << cls << "\" x=\"" << px(x) << "\" y=\"" << px(y)
    << "\" text-anchor=\"" << anchor << "\">" << xmlEscape(content) << "</text>\n";
}

// A horizontal dimension line with end ticks and its label below.
void dimension(std::ostringstream &o, double x1, double x2, double y, const std::string &label,
               const char *cls) {
  o << "    <path class=\"" << cls << "\" d=\"M" << px(x1) << "," << px(y - 4) << "v8M" << px(x1)
    << "," << px(y) << "H" << px(x2) << "M" << px(x2) << "," << px(y - 4) << "v8\"/>\n";
  if (!label.empty()) text(o, (x1 + x2) / 2, y + 14, "dim", label);
}

void panel(std::ostringstream &o, const Scale &s, const std::vector<Product> &products,
           const SvgPanel &p, double top) {
  const BuckResult &r = *p.result;
  const double y0 = top + 150;  // the stem's axis
  const double stemTop = y0 - kMaxRadiusPx, stemBottom = y0 + kMaxRadiusPx;
  const double dimY = stemBottom + 24, zoneY = stemBottom + 62, axisY = stemBottom + 92;

  o << "  <g class=\"panel\">\n";
  std::string heading = p.title;
  if (r.outcome == 1) {
    heading += ": " + std::to_string(r.logCount) + (r.logCount == 1 ? " log, " : " logs, ") +
               fixed(r.totals[ProductVolume], 3) + " m\u00b3, value " +
               fixed(r.totals[TotalValue], 2);
  } else {
    heading += ": " + outcomeText(r.outcome, p.params);
  }
  text(o, kLeft, top + 26, "heading", heading, "start");

  // Grid lines every 5 m behind the stem.
  for (int m = 0; m <= s.height; m += 5)
    o << "    <path class=\"grid\" d=\"M" << px(s.x(m)) << "," << px(stemTop - 6) << "V"
      << px(stemBottom + 6) << "\"/>\n";

  // The whole stem in plain wood first; sections painted over it.
  polygon(o, "stem", sectionPoints(s, y0, 0, s.height), "", "");
  const bool bucked = r.outcome == 1;
  const StemZones z = stemZones(*s.tree, p.params, r);
  if (bucked) {
    const double stump = p.params.stumpHeight, trimTop = stump + p.params.stumpTrim;
    polygon(o, "stump", sectionPoints(s, y0, 0, stump), "",
            "stump: 0 to " + trimmed(stump, 2) + " m");
    if (p.params.stumpTrim > 0)
      polygon(o, "trim", sectionPoints(s, y0, stump, trimTop), "",
              "stump trim: " + trimmed(p.params.stumpTrim, 2) + " m");
    if (z.topStart > z.lastTrimTop)
      polygon(o, "leftover", sectionPoints(s, y0, z.lastTrimTop, z.topStart), "",
              "leftover: " + trimmed(z.lastTrimTop, 2) + " to " + trimmed(z.topStart, 2) + " m, " +
                  fixed(r.totals[LeftoverVolume], 4) + " m\u00b3");
    if (z.topStart < s.height)
      polygon(o, "top", sectionPoints(s, y0, z.topStart, s.height), "",
              "top: above " + trimmed(z.topStart, 2) + " m, " + fixed(r.totals[TopVolume], 4) +
                  " m\u00b3");
  }

  // Logs, their trims and the cut lines.
  std::vector<double> labelEnds;  // right edge of the last label on each level
  for (int k = 1; k <= r.logCount; ++k) {
    const LogEntry &e = r.rows[k];
    const int pn = e.productNumber;
    const std::string name = pn >= 1 && pn <= static_cast<int>(products.size())
                                 ? products[pn - 1].name
                                 : "product " + std::to_string(pn);
    polygon(o, "log", sectionPoints(s, y0, e.baseHeight, e.topHeight),
            " data-log=\"" + std::to_string(k) + "\" data-product=\"" + std::to_string(pn) +
                "\" fill=\"" + productColour(pn) + "\"",
            "log " + std::to_string(k) + ": " + name + ", " + trimmed(e.baseHeight, 2) + " to " +
                trimmed(e.topHeight, 2) + " m, length " + trimmed(e.length, 2) + " m, top \u2300 " +
                fixed(e.topDiam, 1) + " cm, " + fixed(e.volume, 4) + " m\u00b3, value " +
                fixed(e.value, 2));
    if (e.trimTopHeight > e.topHeight)
      polygon(o, "trim", sectionPoints(s, y0, e.topHeight, e.trimTopHeight), "",
              "trim: " + trimmed(e.trimTopHeight - e.topHeight, 2) + " m");
    const double x1 = s.x(e.baseHeight), x2 = s.x(e.topHeight);
    // The log's number, and its product's name where it fits.
    const bool named = x2 - x1 >= 6.5 * static_cast<double>(displayWidth(name)) + 8;
    if (x2 - x1 >= 14) text(o, (x1 + x2) / 2, named ? y0 - 3 : y0 + 4, "lognum", std::to_string(k));
    if (named) text(o, (x1 + x2) / 2, y0 + 12, "logname", name);
    // The cut at the log's top, and its top diameter above the stem.
    o << "    <path class=\"cut\" d=\"M" << px(x2) << "," << px(y0 - s.half(e.topHeight) - 3) << "V"
      << px(stemTop - 16) << "\"/>\n";
    const std::string label = "\u2300" + fixed(e.topDiam, 1);
    const double w = 7.0 * static_cast<double>(displayWidth(label));
    // Labels that would overlap go up a line; with three lines full the
    // label is left out (the log's tooltip and xtk's tables still have it).
    size_t level = 0;
    while (level < labelEnds.size() && labelEnds[level] > x2 - w / 2 - 4) ++level;
    if (level < kLabelLevels) {
      if (level == labelEnds.size()) labelEnds.push_back(0);
      labelEnds[level] = x2 + w / 2;
      if (level > 0)
        o << "    <path class=\"cut\" d=\"M" << px(x2) << "," << px(stemTop - 16) << "V"
          << px(stemTop - 20 - 13.0 * static_cast<double>(level)) << "\"/>\n";
      text(o, x2, stemTop - 20 - 13.0 * static_cast<double>(level), "topdiam", label);
    }
    const std::string length = trimmed(e.length, 2) + " m";
    const bool fits = x2 - x1 >= 6.2 * static_cast<double>(displayWidth(length)) + 4;
    dimension(o, x1, x2, dimY, fits ? length : "", "dimline");
  }

  // The unused parts and the stump, named below the lengths.
  if (bucked) {
    const double xs = s.x(p.params.stumpHeight);
    text(o, kLeft - 6, zoneY + 4, "zone", "stump " + trimmed(p.params.stumpHeight, 2) + " m",
         "end");
    o << "    <path class=\"leader\" d=\"M" << px(kLeft - 4) << "," << px(zoneY) << "H"
      << px((kLeft + xs) / 2) << "V" << px(y0 + s.half(0) - 2) << "\"/>\n";
    // Leftover and top, each with its extent; a label that would run into
    // the one before it moves down a line.
    double labelEnd = 0, labelY = zoneY + 4;
    auto zone = [&](double from, double to, const std::string &label) {
      const double a = s.x(from), b = s.x(to);
      dimension(o, a, b, zoneY - 10, "", "zoneline");
      const double w = 6.2 * static_cast<double>(displayWidth(label));
      const double centre = std::min((a + b) / 2, kWidth - 4 - w / 2);
      if (centre - w / 2 < labelEnd + 6) labelY += 13;
      text(o, centre, labelY, "zone", label);
      labelEnd = centre + w / 2;
    };
    if (z.topStart > z.lastTrimTop)
      zone(z.lastTrimTop, z.topStart, "leftover " + trimmed(z.topStart - z.lastTrimTop, 2) + " m");
    if (z.topStart < s.height)
      zone(z.topStart, s.height,
           z.topDiam > 0 ? "top (below \u2300" + trimmed(z.topDiam, 1) + " cm)" : "top");
  }

  // Height axis.
  o << "    <path class=\"axis\" d=\"M" << px(s.x(0)) << "," << px(axisY) << "H"
    << px(s.x(s.height)) << "\"/>\n";
  for (int m = 0; m <= s.height; ++m) {
    const bool major = m % 5 == 0;
    o << "    <path class=\"axis\" d=\"M" << px(s.x(m)) << "," << px(axisY) << "v"
      << (major ? 6 : 3) << "\"/>\n";
    if (major) text(o, s.x(m), axisY + 18, "tick", std::to_string(m));
  }
  text(o, s.x(s.height) + 8, axisY + 4, "tick", "m", "start");
  // Tip.
  text(o, s.x(s.height) + 6, y0 + 4, "zone", "tip " + trimmed(s.height, 1) + " m", "start");
  o << "  </g>\n";
}

}  // namespace

std::string renderSvg(const Tree &tree, const std::vector<Product> &products,
                      const std::vector<SvgPanel> &panels) {
  Scale s{tree.height, (kWidth - kLeft - kRight - 60) / tree.height, 0, &tree};
  double dmax = 0;
  for (int i = 0; i <= 400; ++i) dmax = std::max(dmax, diameterAt(tree, tree.height * i / 400));
  s.ky = dmax > 0 ? 2 * kMaxRadiusPx / dmax : 1;
  // How much more the diameters are stretched than the heights.
  const double stretch = s.ky * 100 / s.kx;

  const size_t legendRows = std::max<size_t>(products.size(), 4);
  const double legendTop = 50 + kPanelHeight * static_cast<double>(panels.size());
  const double height = legendTop + 30 + 20 * static_cast<double>(legendRows) + 20;

  std::ostringstream o;
  o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  o << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\""
    << px(height) << "\" viewBox=\"0 0 " << kWidth << " " << px(height) << "\">\n";
  o << "  <title>" << xmlEscape("Bucking of a tree: " + treeSummary(tree)) << "</title>\n";
  o << "  <style>\n"
       "    text { font-family: 'DejaVu Sans', Arial, sans-serif; font-size: 12px; fill: #222; }\n"
       "    .title { font-size: 17px; font-weight: bold; }\n"
       "    .note { font-size: 11px; fill: #555; }\n"
       "    .heading { font-size: 14px; font-weight: bold; }\n"
       "    .lognum { font-size: 12px; font-weight: bold; fill: #2b1d0e; }\n"
       "    .logname { font-size: 11px; fill: #2b1d0e; }\n"
       "    .topdiam { font-size: 11px; fill: #333; }\n"
       "    .dim { font-size: 11px; fill: #333; }\n"
       "    .zone { font-size: 11px; fill: #555; font-style: italic; }\n"
       "    .tick { font-size: 11px; fill: #444; }\n"
       "    .stem { fill: #f4ecdc; stroke: #7a5a3a; stroke-width: 1.2; }\n"
       "    .log { stroke: #5a4028; stroke-width: 0.8; }\n"
       "    .stump { fill: #6b4a2b; stroke: #4a3020; stroke-width: 0.8; }\n"
       "    .trim { fill: #d7301f; stroke: none; }\n"
       "    .leftover { fill: url(#hatch); stroke: #888; stroke-width: 0.8; }\n"
       "    .top { fill: #a8a8a8; stroke: #707070; stroke-width: 0.8; }\n"
       "    .grid { stroke: #e4e4e4; stroke-width: 1; }\n"
       "    .cut { stroke: #999; stroke-width: 0.8; stroke-dasharray: 2,2; fill: none; }\n"
       "    .leader { stroke: #999; stroke-width: 0.8; fill: none; }\n"
       "    .dimline { stroke: #555; stroke-width: 1; fill: none; }\n"
       "    .zoneline { stroke: #999; stroke-width: 1; fill: none; }\n"
       "    .axis { stroke: #444; stroke-width: 1; fill: none; }\n"
       "  </style>\n";
  o << "  <defs><pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
       "patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"#ececec\"/>"
       "<path d=\"M0,0V6\" stroke=\"#aaa\" stroke-width=\"2\"/></pattern></defs>\n";
  o << "  <rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  text(o, kLeft, 26, "title", "Tree: " + treeSummary(tree), "start");
  text(o, kLeft, 42, "note",
       "Heights along the axis in m; diameters drawn " + trimmed(stretch, 0) +
           "\u00d7 enlarged. \u2300: top diameter of a log in cm. Red: trim allowances.",
       "start");
  for (size_t i = 0; i < panels.size(); ++i)
    panel(o, s, products, panels[i], 50 + kPanelHeight * static_cast<double>(i));

  // Legend: every product with its rules, then the parts of the stem that are not logs.
  o << "  <g class=\"legend\">\n";
  text(o, kLeft, legendTop + 14, "heading", "Products (in priority order)", "start");
  double y = legendTop + 30;
  for (size_t i = 0; i < products.size(); ++i) {
    const ProductSpec &p = products[i].record;
    o << "    <rect class=\"swatch\" x=\"" << px(kLeft) << "\" y=\"" << px(y) << "\" width=\"22\" "
      << "height=\"13\" fill=\"" << productColour(static_cast<int>(i + 1))
      << "\" stroke=\"#5a4028\" stroke-width=\"0.8\"/>\n";
    std::string rule = std::to_string(i + 1) + "  " + products[i].name + ": top \u2300 ";
    rule += p.maxTopDiam < XYLOTRAK_NO_LIMIT
                ? trimmed(p.minTopDiam, 1) + "\u2013" + trimmed(p.maxTopDiam, 1)
                : "\u2265 " + trimmed(p.minTopDiam, 1);
    rule += " cm";
    if (p.minBaseDiam > 0 || p.maxBaseDiam < XYLOTRAK_NO_LIMIT)
      rule += ", base \u2300 " +
              (p.maxBaseDiam < XYLOTRAK_NO_LIMIT
                   ? trimmed(p.minBaseDiam, 1) + "\u2013" + trimmed(p.maxBaseDiam, 1)
                   : "\u2265 " + trimmed(p.minBaseDiam, 1)) +
              " cm";
    rule += ", length " +
            (p.minLength == p.maxLength
                 ? trimmed(p.maxLength, 2)
                 : trimmed(p.minLength, 2) + "\u2013" + trimmed(p.maxLength, 2)) +
            " m";
    if (p.logPosition != 0 && p.logPosition != 99)
      rule += ", log " + std::to_string(p.logPosition) + " only";
    rule += ", " + trimmed(p.unitPrice, 2) + basisText(p.priceBasis);
    text(o, kLeft + 30, y + 11, "legendtext", rule, "start");
    y += 20;
  }
  const double x2 = kLeft + 640;
  y = legendTop + 30;
  const char *parts[][2] = {{"stump", "stump"},
                            {"trim", "trim allowance"},
                            {"leftover", "leftover: unused, above the last log"},
                            {"top", "top: the thin end, left unused"}};
  for (const auto &part : parts) {
    o << "    <rect class=\"" << part[0] << "\" x=\"" << px(x2) << "\" y=\"" << px(y)
      << "\" width=\"22\" height=\"13\"/>\n";
    text(o, x2 + 30, y + 11, "legendtext", part[1], "start");
    y += 20;
  }
  o << "  </g>\n</svg>\n";
  return o.str();
}

std::string xmlEscape(const std::string &s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // Control characters are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
    }
  }
  return out;
}

void writeFileAtomically(const std::string &path, const std::string &content) {
  const std::string tmp = path + ".tmp" + std::to_string(::getpid());
  std::FILE *f = std::fopen(tmp.c_str(), "wb");
  if (!f) fail(path, std::string("cannot write: ") + std::strerror(errno));
  const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  const bool closed = std::fclose(f) == 0;
  if (!ok || !closed || std::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    (void)std::remove(tmp.c_str());  // the write's failure is the one reported
    fail(path, std::string("cannot write: ") + std::strerror(err));
  }
}

}  // namespace xtk
