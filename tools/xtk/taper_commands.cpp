// xtk taper and buck: a tree's taper and its bucking.
#include <iostream>
#include <memory>

#include "check.h"
#include "commands.h"
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
  bool volume = false, formFactor = false, logCount = false, check = false;
  NumberOption lowerHeight, upperHeight, lowerDiam, upperDiam, logLength;
  OutputOptions output;
  CLI::Option *atOpt = nullptr, *heightAtOpt = nullptr;
};

// The exit code of taper --check when the model has findings.
constexpr int kFindingsExit = 3;

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

// taper --check: the findings, one line each, and the digits of the volume.
int runCheck(const Tree &t, const OutputOptions &output) {
  const ModelFindings f = checkTaperModel(t.dbh, t.height, t.model);
  if (output.json) {
    const json j = {{"findings", f.codes()}, {"volume_digits", f.volumeDigits}};
    std::cout << j.dump(2) << "\n";
  } else {
    std::cout << "Tree: " << treeSummary(t) << "\n\n";
    if (!f.any()) std::cout << "  No findings\n";
    for (const auto &code : f.codes())
      std::cout << "  " << code << ": " << findingWords(code) << "\n";
    std::cout << "  Closed-form volume: " << f.volumeDigits
              << " correct significant digits (15 at most)\n";
  }
  return f.any() ? kFindingsExit : 0;
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
  if (c.check) {
    if (c.atOpt->count() || c.heightAtOpt->count() || c.volume || c.formFactor || c.logCount ||
        c.output.csv)
      fail("option --check",
           "answers alone: not with --at, --height-at, --volume, --form-factor, --log-count "
           "or --csv");
    return runCheck(t, c.output);
  }

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
  // The closed form cancels on an ill-conditioned model: the volume by
  // quadrature goes beside it (and always into the JSON).
  const bool illConditioned = volume && checkTaperModel(t.dbh, t.height, md).illConditioned();
  const double accurate = volume && (illConditioned || c.output.json)
                              ? PHVaDll(t.dbh, t.height, cf, ex, n, lh, uh, ld, ud, len)
                              : 0;
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
    if (volume) j["volume"] = {{"limits", limits}, {"volume", vol}, {"accurate_volume", accurate}};
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
    if (illConditioned) std::cout << "accurateVolume,," << num17(accurate) << "\n";
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
  if (volume) {
    std::cout << "  Volume " << limits << ": " << fixed(vol, 4) << " m3";
    if (illConditioned)
      std::cout << "; accurate: " << fixed(accurate, 4)
                << " m3 (the closed form cancels on this model)";
    std::cout << "\n";
  }
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
  reportFindings(c.tree.place(), checkTaperModel(t.dbh, t.height, t.model), c.buck.strict);
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
  s->add_flag("--check", c->check,
              "Check the taper model for what makes its answers meaningless (asked alone; "
              "exit code 3 with any finding)");
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

}  // namespace xtk
