// xtk formula and plot-area: the log volume formulas and the plot calculator.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "format.h"
#include "options.h"

namespace xtk {

using json = nlohmann::ordered_json;

namespace {

// ---------------------------------------------------------------- formula

struct FormulaDef {
  const char *command, *title, *unit, *help;
  std::vector<std::pair<const char *, const char *>> args;  // option, help
  double (*fn)(const std::vector<double> &);
};

const std::vector<FormulaDef> &formulas() {
  static const std::vector<FormulaDef> defs = {
      {"basal-area",
       "Basal area",
       "m2",
       "Basal area of a diameter",
       {{"--diameter", "cm"}},
       [](const std::vector<double> &a) { return gDll(a[0]); }},
      {"qmd",
       "Quadratic mean diameter",
       "cm",
       "Quadratic mean diameter of a number of trees",
       {{"--basal-area", "total basal area (m2)"},
        {"--trees", "number of trees (may be fractional)"}},
       [](const std::vector<double> &a) { return dgDll(a[0], a[1]); }},
      {"huber",
       "Huber volume",
       "m3",
       "Log volume from the mid-length diameter",
       {{"--diameter", "diameter at mid-length (cm)"}, {"--length", "m"}},
       [](const std::vector<double> &a) { return VTHuDll(a[0], a[1]); }},
      {"cylinder",
       "Cylinder volume",
       "m3",
       "Volume of a cylinder",
       {{"--diameter", "cm"}, {"--length", "m"}},
       [](const std::vector<double> &a) { return VTCiDll(a[0], a[1]); }},
      {"smalian",
       "Smalian volume",
       "m3",
       "Log volume from the two end diameters",
       {{"--d1", "diameter at one end (cm)"},
        {"--d2", "diameter at the other end (cm)"},
        {"--length", "m"}},
       [](const std::vector<double> &a) { return VTSmDll(a[0], a[1], a[2]); }},
      {"newton",
       "Newton volume",
       "m3",
       "Log volume from end and mid-length diameters",
       {{"--d1", "diameter at one end (cm)"},
        {"--mid", "diameter at mid-length (cm)"},
        {"--d2", "diameter at the other end (cm)"},
        {"--length", "m"}},
       [](const std::vector<double> &a) { return VTNwDll(a[0], a[1], a[2], a[3]); }},
      {"neiloid",
       "Neiloid-frustum volume",
       "m3",
       "Volume of a neiloid frustum",
       {{"--d1", "diameter at one end (cm)"},
        {"--d2", "diameter at the other end (cm)"},
        {"--length", "m"}},
       [](const std::vector<double> &a) { return VTNeDll(a[0], a[1], a[2]); }},
      {"cone",
       "Cone-frustum volume",
       "m3",
       "Volume of a cone frustum",
       {{"--d1", "diameter at one end (cm)"},
        {"--d2", "diameter at the other end (cm)"},
        {"--length", "m"}},
       [](const std::vector<double> &a) { return VTCoDll(a[0], a[1], a[2]); }},
  };
  return defs;
}

struct FormulaCommand {
  const FormulaDef *def = nullptr;
  CLI::App *app = nullptr;
  std::vector<NumberOption> args;
  OutputOptions output;
};

int runFormula(const FormulaCommand &c) {
  const OutputOptions &output = c.output;
  const FormulaDef &d = *c.def;
  std::vector<double> values;
  for (const auto &a : c.args) {
    if (!a.given()) fail("option " + a.name, "required");
    const double v = a.get();
    if (v < 0) fail("option " + a.name, "must not be negative");
    values.push_back(v);
  }
  if (std::string(d.command) == "qmd" && !(values[1] > 0))
    fail("option --trees", "must be greater than 0");
  const double result = d.fn(values);
  if (result < 0) fail(std::string("formula ") + d.command, "the library refused the arguments");
  if (output.json) {
    json args = json::object();
    for (size_t i = 0; i < values.size(); ++i) args[c.args[i].name.substr(2)] = values[i];
    std::cout << json{{"formula", d.command}, {"arguments", args}, {"result", result}}.dump(2)
              << "\n";
  } else if (output.csv) {
    std::string head = "formula", row = d.command;
    for (size_t i = 0; i < values.size(); ++i) {
      head += "," + c.args[i].name.substr(2);
      row += "," + num17(values[i]);
    }
    std::cout << head << ",result\n" << row << "," << num17(result) << "\n";
  } else {
    std::cout << d.title << ": " << fixed(result, 6) << " " << d.unit << "\n";
  }
  return 0;
}

// ---------------------------------------------------------------- plot-area

struct PlotCommand {
  NumberOption area, length1, length2, slope1, slope2, unitScale, areaUnit;
  bool slopeCorrection = false, rectangular = false;
  OutputOptions output;
};

// Square length units in one unit of area, as the calculator counts them: the
// second side it gives a rectangle of area 1 whose first side is 1.
double areaFactor(int unitScale, int areaUnit) {
  double side = 0;
  CalcAreaDll(1, 1, 0, 0, 0, 0, 1, unitScale, areaUnit, nullptr, nullptr, &side);
  return side;
}

int runPlotArea(const PlotCommand &c) {
  const double area = c.area.get(0), l1 = c.length1.get(0), l2 = c.length2.get(0);
  const double s1 = c.slope1.get(0), s2 = c.slope2.get(0);
  const int unitScale = c.unitScale.given() ? c.unitScale.getShort() : 0;
  const int areaUnit = c.areaUnit.given() ? c.areaUnit.getShort() : 0;
  if (area < 0) fail("option --area", "must not be negative");
  if (!c.rectangular && !(area > 0) && l1 == 0)
    fail("plot-area", "nothing to compute: give --area or --length1 (the radius)");
  if (c.rectangular && !((area > 0 && (l1 != 0 || l2 != 0)) || (l1 != 0 && l2 != 0)))
    fail("plot-area", "nothing to compute: give --area and one side, or both sides");
  double areaOut = 0, l1Out = 0, l2Out = 0;
  CalcAreaDll(area, l1, l2, s1, s2, c.slopeCorrection ? 1 : 0, c.rectangular ? 1 : 0, unitScale,
              areaUnit, &areaOut, &l1Out, &l2Out);
  const char *l1Name = c.rectangular ? "length1" : "radius";
  if (c.output.json) {
    json j = {{"shape", c.rectangular ? "rectangular" : "circular"},
              {"area", areaOut},
              {c.rectangular ? "length1" : "radius", l1Out}};
    if (c.rectangular) j["length2"] = l2Out;
    std::cout << j.dump(2) << "\n";
  } else if (c.output.csv) {
    std::cout << "shape,area,length1,length2\n"
              << (c.rectangular ? "rectangular," : "circular,") << num17(areaOut) << ","
              << num17(l1Out) << "," << (c.rectangular ? num17(l2Out) : "") << "\n";
  } else {
    const double f = areaFactor(unitScale, areaUnit);
    std::cout << (c.rectangular ? "Rectangular" : "Circular") << " plot, horizontal area in units "
              << "of " << fixed(f, 0) << " square length units"
              << (c.slopeCorrection ? ", lengths measured along the slope" : "") << "\n";
    Table t;
    t.column("", Table::Left);
    t.column("");
    t.row({"area", fixed(areaOut, 6)});
    t.row({l1Name, fixed(l1Out, 4)});
    if (c.rectangular) t.row({"length2", fixed(l2Out, 4)});
    const auto lines = t.lines();
    for (size_t i = 2; i < lines.size(); ++i) std::cout << lines[i] << "\n";
  }
  return 0;
}

}  // namespace

Runner addFormula(CLI::App &app) {
  // The options are bound to the commands' members, so the list never moves.
  auto commands = std::make_shared<std::vector<FormulaCommand>>(formulas().size());
  CLI::App *s = app.add_subcommand("formula", "Basal area, quadratic mean diameter, log volumes");
  s->require_subcommand(1);
  for (size_t k = 0; k < formulas().size(); ++k) {
    const FormulaDef &d = formulas()[k];
    FormulaCommand &fc = (*commands)[k];
    fc.def = &d;
    fc.app = s->add_subcommand(d.command, d.help);
    fc.args.resize(d.args.size());
    for (size_t i = 0; i < d.args.size(); ++i)
      fc.args[i].add(fc.app, d.args[i].first, d.args[i].second);
    fc.output.add(fc.app);
  }
  return [commands] {
    for (const auto &fc : *commands)
      if (fc.app->parsed()) return runFormula(fc);
    return 2;
  };
}

Runner addPlotArea(CLI::App &app) {
  auto c = std::make_shared<PlotCommand>();
  CLI::App *s = app.add_subcommand(
      "plot-area", "Radius or side of a sample plot from its area, or the area from its size");
  c->area.add(s, "--area", "Horizontal plot area (see --area-unit)");
  c->length1.add(s, "--length1", "Radius of a circular plot, or first side of a rectangle");
  c->length2.add(s, "--length2", "Second side of a rectangle");
  c->slope1.add(s, "--slope1", "Slope along length1 (degrees)");
  c->slope2.add(s, "--slope2", "Slope along length2 (degrees)");
  s->add_flag("--slope-correction", c->slopeCorrection, "Lengths are measured along the slope");
  s->add_flag("--rectangular", c->rectangular, "Rectangular plot (default: circular)");
  c->areaUnit.add(s, "--area-unit",
                  "1: area in units of 10000 square length units (ha), 2: of 100 (a), "
                  "other: square length units");
  c->unitScale.add(s, "--unit-scale", "5: lengths in hundredths of the area's length unit");
  c->output.add(s);
  return [c] { return runPlotArea(*c); };
}

}  // namespace xtk
