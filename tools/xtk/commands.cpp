// xtk taper, buck, formula and plot-area.
#include "commands.h"

#include <cmath>
#include <iostream>
#include <memory>

#include "format.h"
#include "options.h"
#include "report.h"
#include "svg.h"

namespace xtk {

using json = nlohmann::ordered_json;

namespace {

// ---------------------------------------------------------------- taper

struct TaperCommand {
  TreeOptions tree;
  std::string at, heightAt;
  bool volume = false, formFactor = false, logCount = false;
  NumberOption lowerHeight, upperHeight, lowerDiam, upperDiam, logLength;
  OutputOptions output;
  CLI::Option *atOpt = nullptr, *heightAtOpt = nullptr;
};

std::string limitsText(double lh, double uh, double ld, double ud, double len) {
  std::string from = "the ground", to = "the tip";
  auto m = [](double v) { return fixed(v, 2) + " m"; };
  auto cm = [](double v) { return fixed(v, 1) + " cm"; };
  if (lh > 0 && ld > 0 && ld < 999)
    from = "the higher of " + m(lh) + " and the " + cm(ld) + " diameter";
  else if (lh > 0)
    from = m(lh);
  else if (ld > 0 && ld < 999)
    from = "the " + cm(ld) + " diameter";
  if (uh > 0 && ud > 0)
    to = "the lower of " + m(uh) + " and the " + cm(ud) + " top";
  else if (uh > 0)
    to = m(uh);
  else if (ud > 0)
    to = "the " + cm(ud) + " top";
  std::string s = "from " + from + " to " + to;
  if (len > 0) s += ", in whole " + m(len) + " logs";
  return s;
}

int runTaper(const TaperCommand &c) {
  const Tree t = c.tree.get();
  const Model &md = t.model;
  const double *cf = md.coefs.data(), *ex = md.exps.data();
  const int n = md.terms();
  const double lh = c.lowerHeight.get(0), uh = c.upperHeight.get(0), ld = c.lowerDiam.get(0),
               ud = c.upperDiam.get(0), len = c.logLength.get(0);
  if ((c.lowerHeight.given() || c.upperHeight.given() || c.lowerDiam.given() ||
       c.upperDiam.given()) &&
      !c.volume && !c.logCount)
    fail("option --lower-height/--upper-height/--lower-diam/--upper-diam",
         "limits need --volume or --log-count");
  if (c.logLength.given() && !c.volume && !c.logCount)
    fail("option --log-length", "needs --volume or --log-count");
  if (c.logCount && !(len > 0)) fail("option --log-length", "--log-count needs a length above 0");

  std::vector<double> heights, diams;
  if (c.atOpt->count()) heights = numberListOption("--at", c.at);
  if (c.heightAtOpt->count()) diams = numberListOption("--height-at", c.heightAt);
  bool volume = c.volume, formFactor = c.formFactor;
  if (heights.empty() && diams.empty() && !volume && !formFactor && !c.logCount) {
    // No question asked: the profile, the stem volume and the form factor.
    heights = {0, 1.3};
    for (int i = 1; i <= 10; ++i) heights.push_back(t.height * i / 10);
    volume = formFactor = true;
  }

  std::vector<double> dAt, hAt;
  for (double h : heights) dAt.push_back(PHDiDll(t.dbh, t.height, cf, ex, n, h));
  for (double d : diams) hAt.push_back(PHHiDll(t.dbh, t.height, cf, ex, n, d));
  const double vol = volume ? PHViDll(t.dbh, t.height, cf, ex, n, lh, uh, ld, ud, len) : 0;
  const double ff = formFactor ? PHFFDll(cf, ex, n) : 0;
  const int count = c.logCount ? PHCTDll(t.dbh, t.height, cf, ex, n, lh, uh, ld, ud, len) : 0;

  if (c.output.json) {
    json j = {{"tree", treeJson(t)}};
    if (!heights.empty()) {
      j["diameters"] = json::array();
      for (size_t i = 0; i < heights.size(); ++i)
        j["diameters"].push_back({{"height", heights[i]}, {"diameter", dAt[i]}});
    }
    if (!diams.empty()) {
      j["heights"] = json::array();
      for (size_t i = 0; i < diams.size(); ++i)
        j["heights"].push_back({{"diameter", diams[i]}, {"height", hAt[i]}});
    }
    const json limits = {{"lowerHeight", lh},
                         {"upperHeight", uh},
                         {"lowerDiam", ld},
                         {"upperDiam", ud},
                         {"logLength", len}};
    if (volume) j["volume"] = {{"limits", limits}, {"volume", vol}};
    if (formFactor) j["formFactor"] = ff;
    if (c.logCount) j["logCount"] = {{"limits", limits}, {"count", count}};
    std::cout << j.dump(2) << "\n";
    return 0;
  }
  if (c.output.csv) {
    std::cout << "quantity,argument,result\n";
    for (size_t i = 0; i < heights.size(); ++i)
      std::cout << "diameter," << num17(heights[i]) << "," << num17(dAt[i]) << "\n";
    for (size_t i = 0; i < diams.size(); ++i)
      std::cout << "height," << num17(diams[i]) << "," << num17(hAt[i]) << "\n";
    if (volume) std::cout << "volume,," << num17(vol) << "\n";
    if (formFactor) std::cout << "formFactor,," << num17(ff) << "\n";
    if (c.logCount) std::cout << "logCount,," << count << "\n";
    return 0;
  }
  std::cout << "Tree: " << treeSummary(t) << "\n";
  if (!heights.empty()) {
    Table tb;
    tb.column("height m");
    tb.column("diameter cm");
    for (size_t i = 0; i < heights.size(); ++i) tb.row({fixed(heights[i], 2), fixed(dAt[i], 2)});
    std::cout << "\n";
    tb.print(std::cout);
  }
  if (!diams.empty()) {
    Table tb;
    tb.column("diameter cm");
    tb.column("height m");
    for (size_t i = 0; i < diams.size(); ++i) tb.row({fixed(diams[i], 2), fixed(hAt[i], 2)});
    std::cout << "\n";
    tb.print(std::cout);
  }
  std::cout << "\n";
  const std::string limits = limitsText(lh, uh, ld, ud, len);
  if (volume) std::cout << "  Volume " << limits << ": " << fixed(vol, 4) << " m3\n";
  if (formFactor) std::cout << "  Form factor: " << fixed(ff, 4) << "\n";
  if (c.logCount)
    std::cout << "  Whole " << fixed(len, 2) << " m logs " << limitsText(lh, uh, ld, ud, 0) << ": "
              << count << "\n";
  return 0;
}

// ---------------------------------------------------------------- buck

struct BuckCommand {
  TreeOptions tree;
  BuckOptions buck;
  std::string products, svg;
  OutputOptions output;
};

int runBuck(const BuckCommand &c) {
  const Tree t = c.tree.get();
  const BuckParams params = c.buck.get();
  const std::vector<Product> products = readProducts(c.products);
  BuckResult r;
  buck(t, products, params, r);
  if (!c.svg.empty()) {
    const std::string title = params.objective < 0 ? "Sequential bucking (priority order)"
                                                   : "Bucking " + methodName(params);
    writeFileAtomically(c.svg, renderSvg(t, products, {{title, params, &r}}));
  }
  if (c.output.json) {
    std::cout << buckJson(t, products, params, r).dump(2) << "\n";
  } else if (c.output.csv) {
    std::string out = kLogsCsvHeader;
    out += '\n';
    appendLogRows(out, nullptr, products, r);
    std::cout << out;
  } else {
    printBuckTable(std::cout, t, products, params, r);
    if (!c.svg.empty()) std::cout << "\nWrote " << c.svg << "\n";
  }
  return 0;
}

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
    double f = areaUnit == 2 ? 100 : areaUnit == 1 ? 10000 : 1;
    if (unitScale == 5) f *= 10000;
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

Runner addTaper(CLI::App &app) {
  auto c = std::make_shared<TaperCommand>();
  CLI::App *s = app.add_subcommand(
      "taper",
      "Diameters at heights, heights at diameters, volume, form factor and log count of a tree");
  c->tree.add(s);
  c->atOpt = s->add_option("--at", c->at, "Diameters at these heights (m), e.g. 1.3,5,10")
                 ->type_name("LIST");
  c->heightAtOpt = s->add_option("--height-at", c->heightAt,
                                 "Heights where the stem narrows to these "
                                 "diameters (cm), e.g. 20,7")
                       ->type_name("LIST");
  s->add_flag("--volume", c->volume, "Stem volume between the limits (m3)");
  s->add_flag("--form-factor", c->formFactor, "Form factor of the profile");
  s->add_flag("--log-count", c->logCount,
              "Number of whole logs of --log-length between the limits");
  c->lowerHeight.add(s, "--lower-height", "Lower limit: height (m)");
  c->upperHeight.add(s, "--upper-height", "Upper limit: height (m)");
  c->lowerDiam.add(s, "--lower-diam", "Lower limit: where the stem has this diameter (cm)");
  c->upperDiam.add(s, "--upper-diam", "Upper limit: the top diameter (cm)");
  c->logLength.add(s, "--log-length", "Cut the section to whole logs of this length (m)");
  c->output.add(s);
  return [c] { return runTaper(*c); };
}

Runner addBuck(CLI::App &app) {
  auto c = std::make_shared<BuckCommand>();
  CLI::App *s = app.add_subcommand("buck", "Cut a tree into logs of a product table");
  c->tree.add(s);
  s->add_option("--products", c->products,
                "Product table, JSON or CSV (field names of the ProductSpec record)")
      ->type_name("FILE")
      ->required();
  c->buck.add(s);
  s->add_option("--svg", c->svg, "Draw the bucked stem into this SVG file")->type_name("FILE");
  c->output.add(s);
  return [c] { return runBuck(*c); };
}

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
