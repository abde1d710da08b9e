// xtk fit: reading measured stems, fitting each group, reporting the fits.
#include "fit.h"

#include <cmath>
#include <iomanip>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "commands.h"
#include "format.h"
#include "options.h"
#include "svg.h"
#include "words.h"

namespace xtk {

using json = nlohmann::ordered_json;

namespace {

std::string trimmedCell(const std::string &s) { return std::string(trimBlanks(s)); }

// A number cell of a measurement: missing (NaN) when empty or NA.
double measurement(const std::string &cell, const std::string &where, const char *field) {
  const std::string text = trimmedCell(cell);
  if (text.empty() || text == "NA") return std::numeric_limits<double>::quiet_NaN();
  return numberField(text, where, field);
}

}  // namespace

std::vector<StemGroup> readStems(const std::string &path, const std::string &by, int &unreadable) {
  CsvReader csv(path);
  const std::vector<std::string> head = csv.header();
  std::map<std::string, size_t> col;
  for (size_t i = 0; i < head.size(); ++i) col[head[i]] = i;
  std::vector<std::string> needed = {"id", "dbh", "height", "h", "d"};
  if (!by.empty()) needed.push_back(by);
  for (const auto &name : needed)
    if (!col.count(name)) fail(at(path, 1), "missing column '" + name + "'");

  std::vector<StemGroup> groups;
  std::map<std::string, size_t> groupIndex;
  std::vector<std::map<std::string, size_t>> ids;  // per group: id -> its index
  auto readRow = [&](const std::vector<std::string> &cells, int, const std::string &where) {
    const std::string id = trimmedCell(cells[col["id"]]);
    if (id.empty()) fail(where, "field 'id': empty");
    const double dbh = measurement(cells[col["dbh"]], where, "dbh");
    const double height = measurement(cells[col["height"]], where, "height");
    const double h = measurement(cells[col["h"]], where, "h");
    const double d = measurement(cells[col["d"]], where, "d");
    std::string name = "all";
    if (!by.empty()) {
      name = trimmedCell(cells[col[by]]);
      if (name.empty()) fail(where, "field '" + by + "': empty");
    }
    const auto [it, fresh] = groupIndex.emplace(name, groups.size());
    if (fresh) {
      groups.push_back(StemGroup{name, {}, {}, {}, {}, {}, 0});
      ids.emplace_back();
    }
    StemGroup &g = groups[it->second];
    g.dbh.push_back(dbh);
    g.height.push_back(height);
    g.h.push_back(h);
    g.d.push_back(d);
    const auto [idIt, newId] = ids[it->second].emplace(id, g.trees);
    if (newId) ++g.trees;
    g.tree.push_back(static_cast<int64_t>(idIt->second));
  };
  forEachCsvRow(csv, head.size(), unreadable, readRow);
  return groups;
}

bool StemGroup::usable(size_t i) const { return PHFuDll(dbh[i], height[i], h[i], d[i]) == 1; }

double GroupFit::residualVariance() const {
  const double sd = random.empty() ? stats.residualStdError : mixed.residualSd;
  return sd * sd;
}

GroupFit fitGroup(const StemGroup &group, const FitRequest &r) {
  GroupFit fit;
  fit.group = &group;
  fit.tipZero = r.tipZero;
  const auto rows = static_cast<int64_t>(group.d.size());
  const int flags = r.tipZero ? XYLOTRAK_FIT_TIP_ZERO : 0;
  if (!r.random.empty()) {
    const size_t p = r.exps.size(), q = r.random.size();
    fit.model.exps = r.exps;
    fit.model.coefs.assign(p, 0.0);
    fit.standardErrors.assign(p, 0.0);
    fit.covariance.assign(p * p, 0.0);
    fit.random = r.random;
    fit.randomCovariance.assign(q * q, 0.0);
    fit.code =
        PHFmDll(group.dbh.data(), group.height.data(), group.h.data(), group.d.data(),
                group.tree.data(), rows, r.exps.data(), static_cast<int>(p) - 1, r.random.data(),
                static_cast<int>(q), fit.model.coefs.data(), fit.standardErrors.data(),
                fit.covariance.data(), fit.randomCovariance.data(), &fit.mixed);
    fit.stats.rowsUsed = fit.mixed.rowsUsed;
    fit.stats.rowsSkipped = fit.mixed.rowsSkipped;
  } else if (r.select) {
    const size_t room = static_cast<size_t>(r.maxTerms);
    fit.model.exps.assign(room, 0.0);
    fit.model.coefs.assign(room, 0.0);
    fit.standardErrors.assign(room, 0.0);
    fit.covariance.assign(room * room, 0.0);
    int32_t n = 0;
    fit.code = PHFwDll(group.dbh.data(), group.height.data(), group.h.data(), group.d.data(), rows,
                       r.candidates.empty() ? nullptr : r.candidates.data(),
                       static_cast<int>(r.candidates.size()), r.maxTerms, flags,
                       fit.model.exps.data(), fit.model.coefs.data(), fit.standardErrors.data(),
                       fit.covariance.data(), &n, &fit.residualDf, &fit.stats);
    const size_t terms = fit.code == XYLOTRAK_FIT_OK ? static_cast<size_t>(n) + 1 : 0;
    fit.model.exps.resize(terms);
    fit.model.coefs.resize(terms);
    fit.standardErrors.resize(terms);
    fit.covariance.resize(terms * terms);
  } else {
    const size_t p = r.exps.size();
    fit.model.exps = r.exps;
    fit.model.coefs.assign(p, 0.0);
    fit.standardErrors.assign(p, 0.0);
    fit.covariance.assign(p * p, 0.0);
    fit.code =
        PHFcDll(group.dbh.data(), group.height.data(), group.h.data(), group.d.data(), rows,
                r.exps.data(), static_cast<int>(p) - 1, flags, fit.model.coefs.data(),
                fit.standardErrors.data(), fit.covariance.data(), &fit.residualDf, &fit.stats);
  }
  if (!fit.ok()) return fit;
  // The model is checked at the group's typical tree: the mean of its usable rows.
  double dbhSum = 0, heightSum = 0;
  int64_t used = 0;
  for (size_t i = 0; i < group.d.size(); ++i) {
    if (group.usable(i)) {
      dbhSum += group.dbh[i];
      heightSum += group.height[i];
      ++used;
    }
  }
  fit.meanDbh = dbhSum / static_cast<double>(used);
  fit.meanHeight = heightSum / static_cast<double>(used);
  fit.findings = checkTaperModel(fit.meanDbh, fit.meanHeight, fit.model);
  return fit;
}

std::string fitCodeWords(int code) {
  return libraryWord(XYLOTRAK_WORDS_FIT_MESSAGE, code).value_or("unknown error");
}

std::string fitFailureWords(const GroupFit &f) {
  std::string words = fitCodeWords(f.code);
  if (f.code == XYLOTRAK_FIT_NOT_CONVERGED) {
    words += " (" +
             libraryWord(XYLOTRAK_WORDS_CONVERGENCE_MESSAGE, f.mixed.convergence)
                 .value_or("reason " + std::to_string(f.mixed.convergence)) +
             " after " + std::to_string(f.mixed.iterations) + " iterations)";
  }
  return words;
}

namespace {

struct FitCommand {
  std::string stems, by, exps, candidates, models, svg, random, save;
  bool select = false, json = false, tipZero = false;
  NumberOption maxTerms;
  CLI::Option *expsOpt = nullptr, *candidatesOpt = nullptr, *randomOpt = nullptr;
};

// A matrix stored row-major as rows of JSON.
json matrixJson(const std::vector<double> &values, size_t n) {
  json rows = json::array();
  for (size_t i = 0; i < n; ++i)
    rows.push_back(std::vector<double>(values.begin() + static_cast<std::ptrdiff_t>(i * n),
                                       values.begin() + static_cast<std::ptrdiff_t>((i + 1) * n)));
  return rows;
}

// What the intervals and the calibration of `xtk taper --fit` read back.
json savedFitJson(const GroupFit &f) {
  json j = {{"exps", f.model.exps},
            {"coefs", f.model.coefs},
            {"covariance", matrixJson(f.covariance, f.model.exps.size())},
            {"residual_variance", f.residualVariance()},
            {"degrees_of_freedom", f.residualDf}};
  if (!f.random.empty()) {
    j["random_terms"] = f.random;
    j["random_covariance"] = matrixJson(f.randomCovariance, f.random.size());
  }
  return j;
}

// Three significant digits, in exponent form when small: "-1.2e-17".
std::string short3(double v) {
  std::ostringstream o;
  o << std::setprecision(3) << v;
  return o.str();
}

json fitJson(const GroupFit &f) {
  const xylotrak_fit_stats &s = f.stats;
  json j = {{"group", f.group->name},
            {"trees", f.group->trees},
            {"rows_used", s.rowsUsed},
            {"rows_skipped", s.rowsSkipped}};
  if (!f.random.empty()) {
    j["converged"] = f.mixed.convergence == XYLOTRAK_MIXED_CONVERGED;
    j["iterations"] = f.mixed.iterations;
  }
  if (!f.ok()) {
    j["error"] = fitFailureWords(f);
    return j;
  }
  j["exps"] = f.model.exps;
  j["coefs"] = f.model.coefs;
  j["standard_errors"] = f.standardErrors;
  if (!f.random.empty()) {
    std::vector<double> randomExps;
    for (int32_t t : f.random) randomExps.push_back(f.model.exps[static_cast<size_t>(t)]);
    j["random_exps"] = randomExps;
    j["random_covariance"] = matrixJson(f.randomCovariance, f.random.size());
    j["residual_sd"] = f.mixed.residualSd;
    j["reml_loglik"] = f.mixed.remlLogLik;
    j["trees_used"] = f.mixed.trees;
  } else {
    j["residual_df"] = f.residualDf;
  }
  j["tip_zero"] = f.tipZero;
  if (f.random.empty()) {
    j["residual_std_error"] = s.residualStdError;
    j["r_squared"] = s.rSquared;
    j["bias"] = s.bias;
    j["diameter_rmse"] = s.diameterRmse;
    j["diameter_bias"] = s.diameterBias;
  }
  j["check"] = {{"dbh", f.meanDbh},
                {"height", f.meanHeight},
                {"findings", f.findings.codes()},
                {"volume_digits", f.findings.volumeDigits}};
  return j;
}

void printFit(const GroupFit &f) {
  const xylotrak_fit_stats &s = f.stats;
  std::cout << "Group " << f.group->name << ": " << f.group->trees << " trees, " << s.rowsUsed
            << " measurements used, " << s.rowsSkipped << " skipped\n";
  if (!f.ok()) {
    std::cout << "  Not fitted: " << fitFailureWords(f) << "\n\n";
    return;
  }
  Table t;
  t.column("term");
  t.column("exponent");
  t.column("coefficient");
  t.column("std. error");
  for (size_t k = 0; k < f.model.exps.size(); ++k)
    t.row({std::to_string(k), num17(f.model.exps[k]), num17(f.model.coefs[k]),
           num17(f.standardErrors[k])});
  t.print(std::cout);
  if (!f.random.empty()) {
    std::cout << "  REML fit, random tree effects on terms";
    for (int32_t k : f.random) std::cout << " " << k;
    std::cout << "; their covariance:\n";
    const size_t q = f.random.size();
    for (size_t i = 0; i < q; ++i) {
      std::cout << "   ";
      for (size_t j = 0; j < q; ++j) std::cout << " " << num17(f.randomCovariance[i * q + j]);
      std::cout << "\n";
    }
    std::cout << "  Residual standard deviation " << fixed(f.mixed.residualSd, 5)
              << " (relative diameter), REML log-likelihood " << fixed(f.mixed.remlLogLik, 3)
              << ", " << f.mixed.trees << " trees, converged in " << f.mixed.iterations
              << " iterations\n";
  } else {
    std::cout << "  Residual standard error " << fixed(s.residualStdError, 5)
              << " (relative diameter), R2 " << fixed(s.rSquared, 5) << ", bias " << short3(s.bias)
              << "\n";
    std::cout << "  In cm: RMSE " << fixed(s.diameterRmse, 3) << ", bias "
              << fixed(s.diameterBias, 4) << "\n";
  }
  std::cout << "  Model check at dbh " << fixed(f.meanDbh, 1) << " cm, height "
            << fixed(f.meanHeight, 1) << " m: ";
  std::cout << (f.findings.any() ? f.findings.list() : std::string("no findings"));
  for (const auto &code : f.findings.codes())
    std::cout << "\n    " << code << ": " << findingWords(code);
  std::cout << "\n\n";
}

int runFit(const FitCommand &c) {
  if (c.select && c.expsOpt->count() > 0) fail("option --exps", "not with --select");
  if (!c.select && (c.candidatesOpt->count() > 0 || c.maxTerms.given()))
    fail("option --candidates/--max-terms", "only with --select");
  const std::vector<double> exps = c.expsOpt->count() > 0 ? numberListOption("--exps", c.exps)
                                                          : fitDefault(XYLOTRAK_FIT_DEFAULT_EXPS);
  if (exps.size() > 32768) fail("option --exps", "more than 32768 exponents");
  const std::vector<double> candidates = c.candidatesOpt->count() > 0
                                             ? numberListOption("--candidates", c.candidates)
                                             : std::vector<double>{};
  if (candidates.size() > 32767) fail("option --candidates", "more than 32767 exponents");
  const int maxTerms = c.maxTerms.given()
                           ? c.maxTerms.getShort()
                           : static_cast<int>(fitDefault(XYLOTRAK_FIT_DEFAULT_MAX_TERMS).at(0));
  if (maxTerms < 1) fail("option --max-terms", "must be 1 or more");

  FitRequest request{c.select, exps, candidates, maxTerms, c.tipZero, {}};
  if (c.randomOpt->count() > 0) {
    if (c.select) fail("option --random", "not with --select");
    if (c.tipZero) fail("option --random", "not with --tip-zero");
    for (double t : numberListOption("--random", c.random)) {
      if (!(t >= 0 && t < static_cast<double>(exps.size())) || t != std::floor(t))
        fail("option --random",
             "term numbers must be whole, from 0 to " + std::to_string(exps.size() - 1));
      request.random.push_back(static_cast<int32_t>(t));
    }
  }

  int unreadable = 0;
  const std::vector<StemGroup> groups = readStems(c.stems, c.by, unreadable);
  if (groups.empty()) fail(c.stems, "no measurements");
  std::vector<GroupFit> fits;
  fits.reserve(groups.size());
  for (const auto &g : groups) fits.push_back(fitGroup(g, request));

  bool anyFailed = false;
  json models = json::object();
  for (const auto &f : fits) {
    anyFailed = anyFailed || !f.ok();
    if (f.ok()) models[f.group->name] = {{"coefs", f.model.coefs}, {"exps", f.model.exps}};
  }
  if (!c.models.empty()) writeFileAtomically(c.models, models.dump(2) + "\n");
  if (!c.save.empty()) {
    json saved = json::object();
    for (const auto &f : fits)
      if (f.ok()) saved[f.group->name] = savedFitJson(f);
    writeFileAtomically(c.save, json({{"fits", saved}}).dump(2) + "\n");
  }
  if (!c.svg.empty()) writeFileAtomically(c.svg, renderFitSvg(fits));

  if (c.json) {
    json j = {{"stems", c.stems},
              {"method", c.select ? "stepwise" : "exponents"},
              {"unreadable_rows", unreadable},
              {"fits", json::array()}};
    for (const auto &f : fits) j["fits"].push_back(fitJson(f));
    std::cout << j.dump(2) << "\n";
  } else {
    std::cout << "Taper models fitted to " << c.stems << " ("
              << (c.select ? "exponents selected stepwise" : "exponents " + c.exps) << ")\n\n";
    for (const auto &f : fits) printFit(f);
    if (unreadable > 0) std::cout << unreadable << " rows could not be read (see above)\n";
  }
  for (const auto &f : fits)
    if (!f.ok())
      std::cerr << "xtk: group " << f.group->name << ": not fitted: " << fitFailureWords(f) << "\n";
  return anyFailed || unreadable > 0 ? 1 : 0;
}

}  // namespace

Runner addFit(CLI::App &app) {
  auto c = std::make_shared<FitCommand>();
  CLI::App *s = app.add_subcommand(
      "fit", "Fit taper models d/dbh = sum c_k (h/H)^e_k to measured stems by least squares");
  s->add_option("--stems", c->stems, "Measurements CSV: id,dbh,height,h,d (and the --by column)")
      ->type_name("FILE")
      ->required();
  c->expsOpt =
      s->add_option("--exps", c->exps,
                    "Exponents to fit (default " + fitDefaultText(XYLOTRAK_FIT_DEFAULT_EXPS) + ")")
          ->type_name("LIST");
  s->add_flag("--select", c->select,
              "Choose the exponents stepwise (partial F at 5%); exponent 0 is always in");
  c->candidatesOpt = s->add_option("--candidates", c->candidates,
                                   "Candidate exponents for --select (default " +
                                       fitDefaultText(XYLOTRAK_FIT_DEFAULT_CANDIDATES) + ")")
                         ->type_name("LIST");
  c->maxTerms.add(s, "--max-terms",
                  "At most this many terms with --select, term 0 included (" +
                      fitDefaultText(XYLOTRAK_FIT_DEFAULT_MAX_TERMS) + ")");
  s->add_flag("--tip-zero", c->tipZero,
              "Fit through the tip: the coefficients sum to 0, so the profile ends at 0");
  c->randomOpt = s->add_option("--random", c->random,
                               "Random tree effects on these terms (numbers from 0, e.g. 0,1): a "
                               "mixed-effects fit by REML, trees told apart by the id column")
                     ->type_name("LIST");
  s->add_option("--save", c->save,
                "Write each fit with its covariances as JSON, for xtk taper --fit")
      ->type_name("FILE");
  s->add_option("--by", c->by, "Fit one model per value of this column")->type_name("COLUMN");
  s->add_option("--models", c->models,
                "Write the fitted models as JSON, as xtk batch --models reads them")
      ->type_name("FILE");
  s->add_option("--svg", c->svg, "Draw observed and fitted relative diameters, and residuals")
      ->type_name("FILE");
  s->add_flag("--json", c->json, "Print JSON");
  return [c] { return runFit(*c); };
}

}  // namespace xtk
