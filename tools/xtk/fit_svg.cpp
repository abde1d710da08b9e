// The picture of xtk fit --svg: observed relative diameters with the fitted
// profiles over relative height, and below them the residuals.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "fit.h"
#include "format.h"
#include "svg.h"

namespace xtk {

namespace {

constexpr double kWidth = 900, kLeft = 70, kRight = 170, kTop = 40;
constexpr double kProfileHeight = 360, kResidualHeight = 200, kGap = 60;
// Points drawn per group at most: the file stays small for large samples.
constexpr size_t kMaxPoints = 4000;

const char *const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                "#ff7f0e", "#8c564b", "#e377c2", "#17becf"};

double profile(const Model &m, double x) {
  double y = 0;
  for (size_t k = 0; k < m.coefs.size(); ++k)
    y += m.coefs[k] * (m.exps[k] == 0 ? 1.0 : std::pow(x, m.exps[k]));
  return y;
}

struct Point {
  double x, y, residual;
};

std::vector<Point> pointsOf(const GroupFit &f) {
  const StemGroup &g = *f.group;
  std::vector<Point> pts;
  const size_t stride = std::max<size_t>(1, g.d.size() / kMaxPoints);
  for (size_t i = 0; i < g.d.size(); i += stride) {
    if (!g.usable(i)) continue;
    const double x = g.h[i] / g.height[i], y = g.d[i] / g.dbh[i];
    pts.push_back({x, y, y - profile(f.model, x)});
  }
  return pts;
}

// A panel's frame with ticks; maps data to pixels.
struct Panel {
  double top, height, yMin, yMax;
  double px(double x) const { return kLeft + x * (kWidth - kLeft - kRight); }
  double py(double y) const { return top + height - (y - yMin) / (yMax - yMin) * height; }
};

// A round step (1, 2 or 5 times a power of ten) giving 4 to 10 ticks over a span.
double tickStep(double span) {
  const double unit = std::pow(10.0, std::floor(std::log10(span / 4)));
  for (double m : {1.0, 2.0, 5.0})
    if (span / (m * unit) <= 10) return m * unit;
  return 10 * unit;
}

void frame(std::ostringstream &o, const Panel &p, const std::string &yLabel, bool xLabels) {
  o << "<rect x='" << kLeft << "' y='" << p.top << "' width='" << kWidth - kLeft - kRight
    << "' height='" << p.height << "' fill='none' stroke='#444'/>\n";
  const double step = tickStep(p.yMax - p.yMin);
  const auto first = static_cast<long>(std::ceil(p.yMin / step - 1e-9));
  const auto last = static_cast<long>(std::floor(p.yMax / step + 1e-9));
  for (long k = first; k <= last; ++k) {
    const double shown = static_cast<double>(k) * step;
    o << "<text x='" << kLeft - 6 << "' y='" << fixed(p.py(shown) + 4, 1)
      << "' text-anchor='end' font-size='11'>" << fixed(shown, step < 0.1 ? 2 : 1) << "</text>\n";
  }
  for (int k = 0; k <= 10 && xLabels; ++k) {
    const double x = k / 10.0;
    o << "<text x='" << fixed(p.px(x), 1) << "' y='" << p.top + p.height + 15
      << "' text-anchor='middle' font-size='11'>" << fixed(x, 1) << "</text>\n";
  }
  o << "<text x='18' y='" << fixed(p.top + p.height / 2, 1)
    << "' font-size='12' transform='rotate(-90 18 " << fixed(p.top + p.height / 2, 1)
    << ")' text-anchor='middle'>" << yLabel << "</text>\n";
}

}  // namespace

std::string renderFitSvg(const std::vector<GroupFit> &fits) {
  std::vector<std::vector<Point>> points;
  double yMax = 1.2, rMax = 0.05;
  for (const auto &f : fits) {
    points.push_back(f.ok() ? pointsOf(f) : std::vector<Point>{});
    for (const Point &p : points.back()) {
      yMax = std::max(yMax, p.y);
      rMax = std::max(rMax, std::fabs(p.residual));
    }
  }
  yMax = std::ceil(yMax * 10) / 10;
  rMax = std::ceil(rMax * 100) / 100;
  const Panel top{kTop, kProfileHeight, 0, yMax};
  const Panel bottom{kTop + kProfileHeight + kGap, kResidualHeight, -rMax, rMax};
  const double height = bottom.top + bottom.height + 45;

  std::ostringstream o;
  o << "<svg xmlns='http://www.w3.org/2000/svg' width='" << kWidth << "' height='" << height
    << "' viewBox='0 0 " << kWidth << " " << height << "' font-family='sans-serif'>\n";
  o << "<rect width='100%' height='100%' fill='white'/>\n";
  o << "<text x='" << kLeft << "' y='24' font-size='15'>Observed and fitted relative diameter "
    << "d/dbh over relative height h/H</text>\n";
  frame(o, top, "d / dbh", false);
  frame(o, bottom, "residual", true);
  o << "<line x1='" << kLeft << "' x2='" << kWidth - kRight << "' y1='" << fixed(bottom.py(0), 1)
    << "' y2='" << fixed(bottom.py(0), 1) << "' stroke='#888' stroke-dasharray='4 3'/>\n";
  o << "<text x='" << fixed(top.px(0.5), 1) << "' y='" << height - 8
    << "' text-anchor='middle' font-size='12'>h / H</text>\n";

  for (size_t g = 0; g < fits.size(); ++g) {
    const GroupFit &f = fits[g];
    const char *colour = kColours[g % 8];
    const double legendY = kTop + 16 + 18 * static_cast<double>(g);
    o << "<rect x='" << kWidth - kRight + 14 << "' y='" << legendY - 10
      << "' width='12' height='12' fill='" << colour << "'/><text x='" << kWidth - kRight + 32
      << "' y='" << legendY << "' font-size='12'>" << xmlEscape(f.group->name)
      << (f.ok() ? "" : " (not fitted)") << "</text>\n";
    if (!f.ok()) continue;
    o << "<g fill='" << colour << "' fill-opacity='0.35'>\n";
    for (const Point &p : points[g]) {
      o << "<circle cx='" << fixed(top.px(p.x), 1) << "' cy='" << fixed(top.py(p.y), 1)
        << "' r='2'/><circle cx='" << fixed(bottom.px(p.x), 1) << "' cy='"
        << fixed(bottom.py(p.residual), 1) << "' r='2'/>\n";
    }
    o << "</g>\n<polyline fill='none' stroke='" << colour << "' stroke-width='2' points='";
    for (int k = 0; k <= 200; ++k) {
      const double x = k / 200.0;
      const double y = std::clamp(profile(f.model, x), top.yMin, top.yMax);
      o << fixed(top.px(x), 1) << "," << fixed(top.py(y), 1) << (k < 200 ? " " : "");
    }
    o << "'/>\n";
  }
  o << "</svg>\n";
  return o.str();
}

}  // namespace xtk
