// xtk taper and buck: a tree's taper and its bucking.
#include <cmath>
#include <iostream>
#include <memory>

#include "check.h"
#include "commands.h"
#include "format.h"
#include "options.h"
#include "report.h"
#include "svg.h"
#include "words.h"

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
  std::string fitFile, group, interval, measured;
  NumberOption level;
  CLI::Option *fitOpt = nullptr, *groupOpt = nullptr, *intervalOpt = nullptr,
              *measuredOpt = nullptr;
};

// A fit saved by xtk fit --save, as the interval and calibration exports read it.
struct SavedFit {
  std::vector<double> covariance, randomCovariance;
  std::vector<int32_t> random;
  double residualVariance = 0, degreesOfFreedom = 0;
  int flags = 0;

  xylotrak_taper_fit record(const Model &m) const {
    xylotrak_taper_fit r{};
    r.coefs = m.coefs.data();
    r.exps = m.exps.data();
    r.covariance = covariance.data();
    r.randomTerms = random.empty() ? nullptr : random.data();
    r.randomCovariance = random.empty() ? nullptr : randomCovariance.data();
    r.residualVariance = residualVariance;
    r.degreesOfFreedom = degreesOfFreedom;
    r.termCount = m.terms();
    r.randomCount = static_cast<int32_t>(random.size());
    r.flags = flags;
    return r;
  }
};

std::vector<double> numbersOf(const json &j, const std::string &where, const char *field) {
  if (!j.is_array()) fail(where, std::string("field '") + field + "': expected an array");
  std::vector<double> v;
  for (const auto &x : j) {
    if (!x.is_number()) fail(where, std::string("field '") + field + "': expected numbers");
    v.push_back(x.get<double>());
  }
  return v;
}

std::vector<double> matrixOf(const json &j, size_t n, const std::string &where, const char *field) {
  if (!j.is_array() || j.size() != n)
    fail(where, std::string("field '") + field + "': expected " + std::to_string(n) + " rows");
  std::vector<double> v;
  for (const auto &row : j) {
    const std::vector<double> r = numbersOf(row, where, field);
    if (r.size() != n)
      fail(where, std::string("field '") + field + "': rows of " + std::to_string(n) + " numbers");
    v.insert(v.end(), r.begin(), r.end());
  }
  return v;
}

// Reads group `group` (or the only one) of a file of xtk fit --save.
SavedFit readSavedFit(const std::string &path, const std::string &group, Model &model) {
  json doc;
  try {
    doc = json::parse(readFile(path));
  } catch (const json::parse_error &e) {
    fail(path, std::string("not JSON: ") + e.what());
  }
  if (!doc.is_object() || !doc.contains("fits") || !doc["fits"].is_object() || doc["fits"].empty())
    fail(path, "expected {\"fits\": {GROUP: {...}}} as xtk fit --save writes it");
  const json &fits = doc["fits"];
  std::string name = group;
  if (name.empty()) {
    if (fits.size() != 1) fail("option --group", "the fit file holds several groups: name one");
    name = fits.begin().key();
  }
  if (!fits.contains(name)) fail("option --group", "no group '" + name + "' in " + path);
  const json &f = fits[name];
  const std::string where = path + ": group '" + name + "'";
  for (const char *key : {"exps", "coefs", "covariance", "residual_variance", "degrees_of_freedom"})
    if (!f.contains(key)) fail(where, std::string("missing field '") + key + "'");
  model.exps = numbersOf(f["exps"], where, "exps");
  model.coefs = numbersOf(f["coefs"], where, "coefs");
  if (model.exps.size() != model.coefs.size() || model.coefs.empty())
    fail(where, "coefs and exps differ in length");
  SavedFit s;
  s.covariance = matrixOf(f["covariance"], model.coefs.size(), where, "covariance");
  if (!f["residual_variance"].is_number() || !f["degrees_of_freedom"].is_number())
    fail(where, "residual_variance and degrees_of_freedom must be numbers");
  s.residualVariance = f["residual_variance"].get<double>();
  s.degreesOfFreedom = f["degrees_of_freedom"].get<double>();
  if (f.contains("random_terms")) {
    for (double t : numbersOf(f["random_terms"], where, "random_terms"))
      s.random.push_back(static_cast<int32_t>(t));
    if (!f.contains("random_covariance")) fail(where, "missing field 'random_covariance'");
    s.randomCovariance =
        matrixOf(f["random_covariance"], s.random.size(), where, "random_covariance");
  }
  return s;
}

// --measured 7:25.3,12:19.8: heights and diameters.
void readMeasured(const std::string &raw, std::vector<double> &heights,
                  std::vector<double> &diams) {
  size_t start = 0;
  while (start <= raw.size()) {
    const size_t comma = raw.find(',', start);
    const std::string pair =
        raw.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t colon = pair.find(':');
    if (colon == std::string::npos)
      fail("option --measured", "expected HEIGHT:DIAMETER pairs, got \"" + pair + "\"");
    heights.push_back(numberListOption("--measured", pair.substr(0, colon)).at(0));
    diams.push_back(numberListOption("--measured", pair.substr(colon + 1)).at(0));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

std::string intervalWords(int code) {
  return libraryWord(XYLOTRAK_WORDS_INTERVAL_MESSAGE, code)
      .value_or("error " + std::to_string(code));
}

// The exit code of taper --check when the model has findings.
constexpr int kFindingsExit = 3;

std::string limitsText(double lh, double uh, double ld, double ud, double len) {
  std::string from = "the ground", to = "the tip";
  auto m = [](double v) { return fixed(v, 2) + " m"; };
  auto cm = [](double v) { return fixed(v, 1) + " cm"; };
  if (lh > 0 && ld > 0 && ld < XYLOTRAK_NO_LIMIT)
    from = "the higher of " + m(lh) + " and the " + cm(ld) + " diameter";
  else if (lh > 0)
    from = m(lh);
  else if (ld > 0 && ld < XYLOTRAK_NO_LIMIT)
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
  const bool fromFit = c.fitOpt->count() > 0;
  if (!fromFit &&
      (c.intervalOpt->count() || c.measuredOpt->count() || c.groupOpt->count() || c.level.given()))
    fail("option --interval/--level/--measured/--group", "need --fit FILE");
  Tree t;
  SavedFit saved;
  std::vector<double> measuredH, measuredD;
  int calibrationFlags = 0;
  if (fromFit) {
    if (c.tree.fileOpt->count() || c.tree.coefsOpt->count() || c.tree.expsOpt->count())
      fail("option --fit", "the model comes from the fit: not with --tree, --coefs or --exps");
    if (!c.tree.dbh.given() || !c.tree.height.given())
      fail("option --fit", "needs --dbh and --height");
    t.dbh = c.tree.dbh.get();
    t.height = c.tree.height.get();
    checkDimensions(t.dbh, t.height, TreeSource::options());
    saved = readSavedFit(c.fitFile, c.group, t.model);
    if (c.measuredOpt->count()) {
      readMeasured(c.measured, measuredH, measuredD);
      std::vector<double> coefs(t.model.coefs.size()), cov(saved.covariance.size());
      const xylotrak_taper_fit r = saved.record(t.model);
      const int code =
          PHCbDll(&r, t.dbh, t.height, measuredH.data(), measuredD.data(),
                  static_cast<int>(measuredH.size()), coefs.data(), cov.data(), &calibrationFlags);
      if (code != XYLOTRAK_FIT_OK) fail("option --measured", intervalWords(code));
      t.model.coefs = coefs;
      saved.covariance = cov;
      saved.flags = XYLOTRAK_TAPER_FIT_CALIBRATED;
      if (calibrationFlags & XYLOTRAK_CALIBRATION_OUTLYING)
        std::cerr << "xtk: warning: "
                  << libraryWord(XYLOTRAK_WORDS_CALIBRATION_FLAG, 0).value_or("outlying") << "\n";
    }
  } else {
    t = c.tree.get();
  }
  int intervalKind = -1;
  double level = 0.95;
  if (c.intervalOpt->count()) {
    if (c.interval == "confidence")
      intervalKind = XYLOTRAK_INTERVAL_CONFIDENCE;
    else if (c.interval == "prediction")
      intervalKind = XYLOTRAK_INTERVAL_PREDICTION;
    else
      fail("option --interval", "expected confidence or prediction, got \"" + c.interval + "\"");
    level = c.level.get(0.95);
    if (!(level > 0 && level < 1)) fail("option --level", "must lie between 0 and 1");
  } else if (c.level.given()) {
    fail("option --level", "needs --interval");
  }
  const xylotrak_taper_fit record = saved.record(t.model);
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
  // Intervals beside the diameters and the volume.
  std::vector<double> dLow, dHigh;
  double vLow = 0, vHigh = 0;
  if (intervalKind >= 0) {
    for (double h : heights) {
      double value = 0, lo = 0, hi = 0;
      const int code = PHDcDll(&record, t.dbh, t.height, h, intervalKind, level, &value, &lo, &hi);
      if (code != XYLOTRAK_FIT_OK) fail("option --at", intervalWords(code));
      dLow.push_back(lo);
      dHigh.push_back(hi);
    }
    if (volume) {
      double value = 0;
      const int code = PHVcDll(&record, t.dbh, t.height, lh, uh, ld, ud, len, intervalKind, level,
                               &value, &vLow, &vHigh);
      if (code != XYLOTRAK_FIT_OK) fail(c.fitFile, intervalWords(code));
    }
  }
  const bool withInterval = intervalKind >= 0;

  if (c.output.json) {
    json j = {{"tree", treeJson(t)}};
    if (!heights.empty()) {
      j["diameters"] = json::array();
      for (size_t i = 0; i < heights.size(); ++i) {
        json row = {{"height", heights[i]}, {"diameter", dAt[i]}};
        if (withInterval) {
          row["lower"] = dLow[i];
          row["upper"] = dHigh[i];
        }
        j["diameters"].push_back(row);
      }
    }
    if (withInterval) j["interval"] = {{"kind", c.interval}, {"level", level}};
    if (fromFit && c.measuredOpt->count()) {
      json m = json::array();
      for (size_t i = 0; i < measuredH.size(); ++i)
        m.push_back({{"height", measuredH[i]}, {"diameter", measuredD[i]}});
      j["calibration"] = {{"measured", m},
                          {"outlying", (calibrationFlags & XYLOTRAK_CALIBRATION_OUTLYING) != 0}};
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
    if (volume) {
      j["volume"] = {{"limits", limits}, {"volume", vol}, {"accurate_volume", accurate}};
      if (withInterval) {
        j["volume"]["lower"] = vLow;
        j["volume"]["upper"] = vHigh;
      }
    }
    if (formFactor) j["formFactor"] = ff;
    if (c.logCount) j["logCount"] = {{"limits", limits}, {"count", count}};
    std::cout << j.dump(2) << "\n";
    return 0;
  }
  if (c.output.csv) {
    std::cout << "quantity,argument,result" << (withInterval ? ",lower,upper" : "") << "\n";
    for (size_t i = 0; i < heights.size(); ++i)
      std::cout << "diameter," << num17(heights[i]) << "," << num17(dAt[i])
                << (withInterval ? "," + num17(dLow[i]) + "," + num17(dHigh[i]) : "") << "\n";
    for (size_t i = 0; i < diams.size(); ++i)
      std::cout << "height," << num17(diams[i]) << "," << num17(hAt[i]) << "\n";
    if (volume)
      std::cout << "volume,," << num17(vol)
                << (withInterval ? "," + num17(vLow) + "," + num17(vHigh) : "") << "\n";
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
    if (withInterval) {
      tb.column("lower");
      tb.column("upper");
    }
    for (size_t i = 0; i < heights.size(); ++i) {
      if (withInterval)
        tb.row({fixed(heights[i], 2), fixed(dAt[i], 2), fixed(dLow[i], 2), fixed(dHigh[i], 2)});
      else
        tb.row({fixed(heights[i], 2), fixed(dAt[i], 2)});
    }
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
    if (withInterval)
      std::cout << " (" << c.interval << " interval " << fixed(100 * level, 1)
                << "%: " << fixed(vLow, 4) << " to " << fixed(vHigh, 4) << ")";
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
    std::string out = logsCsvHeader();
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
  c->fitOpt = s->add_option("--fit", c->fitFile,
                            "The model of a fit saved by xtk fit --save (with --dbh, --height)")
                  ->type_name("FILE");
  c->groupOpt =
      s->add_option("--group", c->group, "The group of the fit file (needed when it holds several)")
          ->type_name("NAME");
  c->intervalOpt = s->add_option("--interval", c->interval,
                                 "Intervals beside the diameters and the volume (with --fit)")
                       ->type_name("confidence|prediction");
  c->level.add(s, "--level", "Level of the intervals (default 0.95)");
  c->measuredOpt = s->add_option("--measured", c->measured,
                                 "Calibrate the fit to this tree from measured diameters, "
                                 "HEIGHT:DIAMETER pairs, e.g. 7:25.3,12:19.8")
                       ->type_name("LIST");
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
