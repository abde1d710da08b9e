// xtk's JSON answers against the library's exports called directly with the
// same tree, product table and parameters: every field, bit for bit. Then what
// its text says about the library's answers.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "report.h"
#include "xylotrak.h"

namespace {

using json = nlohmann::json;

// Runs xtk with `args`; its standard output. It must exit with `exitCode`.
std::string xtk(const std::string &args, int exitCode = 0) {
  const std::string command = std::string(XTK_PATH) + " " + args;
  std::FILE *pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  std::string out;
  if (!pipe) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status)) << command;
  EXPECT_EQ(WEXITSTATUS(status), exitCode) << command;
  return out;
}

json readJson(const std::filesystem::path &p) { return json::parse(std::ifstream(p)); }

struct Direct {
  double outcome = 0;
  std::array<double, 8> totals{};
  std::array<LogEntry, XYLOTRAK_LOG_ROWS> logs{};
  std::vector<ProductSpec> table;
};

const char *const kTotals[8] = {"productVolume", "stumpVolume", "leftoverVolume", "topVolume",
                                "trimVolume",    "lossVolume",  "stemVolume",     "totalValue"};

struct Params {
  double stumpHeight = 0.3, stumpTrim = 0, startHeight = 0, topLimit = 999, heightLimit = 999;
  int objective = -1;
};

// The bucking by the exports, the table filled from the product JSON.
Direct buckDirect(const json &tree, const json &products, const Params &p) {
  Direct d;
  for (const auto &j : products) {
    ProductSpec s{};
    s.minTopDiam = j["minTopDiam"];
    s.maxTopDiam = j["maxTopDiam"];
    s.minBaseDiam = j["minBaseDiam"];
    s.maxBaseDiam = j["maxBaseDiam"];
    s.minLength = j["minLength"];
    s.maxLength = j["maxLength"];
    s.unitPrice = j["unitPrice"];
    s.priceBasis = j["priceBasis"];
    s.logPosition = j["logPosition"];
    s.heightRule = j["heightRule"];
    s.lossFraction = j["lossFraction"];
    s.trimLength = j["trimLength"];
    d.table.push_back(s);
  }
  const std::vector<double> coefs = tree["coefs"], exps = tree["exps"];
  const int terms = static_cast<int>(coefs.size()) - 1;
  double *t = d.totals.data();
  const int n = static_cast<int>(d.table.size());
  if (p.objective < 0)
    d.outcome =
        PHVsDll(tree["dbh"], tree["height"], coefs.data(), exps.data(), terms, p.startHeight,
                p.topLimit, 0, 0, p.stumpHeight, p.stumpTrim, p.heightLimit, d.table.data(), n, t,
                t + 1, t + 2, t + 3, t + 4, t + 5, t + 6, t + 7, d.logs.data());
  else
    d.outcome =
        PHVoDll(tree["dbh"], tree["height"], coefs.data(), exps.data(), terms, p.startHeight,
                p.topLimit, 0, 0, p.stumpHeight, p.stumpTrim, p.heightLimit, d.table.data(), n,
                p.objective, t, t + 1, t + 2, t + 3, t + 4, t + 5, t + 6, t + 7, d.logs.data());
  return d;
}

void expectRow(const json &j, const LogEntry &e) {
  EXPECT_EQ(j["logNumber"].get<int>(), e.logNumber);
  EXPECT_EQ(j["productNumber"].get<int>(), e.productNumber);
  EXPECT_EQ(j["baseHeight"].get<double>(), e.baseHeight);
  EXPECT_EQ(j["length"].get<double>(), e.length);
  EXPECT_EQ(j["topHeight"].get<double>(), e.topHeight);
  EXPECT_EQ(j["trimTopHeight"].get<double>(), e.trimTopHeight);
  EXPECT_EQ(j["baseDiam"].get<double>(), e.baseDiam);
  EXPECT_EQ(j["topDiam"].get<double>(), e.topDiam);
  EXPECT_EQ(j["trimTopDiam"].get<double>(), e.trimTopDiam);
  EXPECT_EQ(j["volume"].get<double>(), e.volume);
  EXPECT_EQ(j["value"].get<double>(), e.value);
}

void expectSame(const json &out, const Direct &d, const json &products) {
  EXPECT_EQ(out["outcome"].get<double>(), d.outcome);
  int n = 0;
  while (n + 1 < XYLOTRAK_LOG_ROWS && d.logs[n + 1].logNumber != 0) ++n;
  ASSERT_GT(n, 0);
  EXPECT_EQ(out["logCount"].get<int>(), n);
  ASSERT_EQ(out["logs"].size(), static_cast<size_t>(n));
  expectRow(out["stump"], d.logs[0]);
  for (int k = 1; k <= n; ++k) {
    SCOPED_TRACE("log " + std::to_string(k));
    const json &row = out["logs"][k - 1];
    expectRow(row, d.logs[k]);
    EXPECT_EQ(row["productName"], products[d.logs[k].productNumber - 1]["name"]);
  }
  ASSERT_EQ(out["products"].size(), d.table.size());
  for (size_t i = 0; i < d.table.size(); ++i) {
    SCOPED_TRACE("product " + std::to_string(i + 1));
    const json &p = out["products"][i];
    const ProductSpec &s = d.table[i];
    EXPECT_EQ(p["name"], products[i]["name"]);
    EXPECT_EQ(p["minTopDiam"].get<double>(), s.minTopDiam);
    EXPECT_EQ(p["logPosition"].get<int>(), s.logPosition);
    EXPECT_EQ(p["logCount"].get<int>(), s.logCount);
    EXPECT_EQ(p["volumeSum"].get<double>(), s.volumeSum);
    EXPECT_EQ(p["valueSum"].get<double>(), s.valueSum);
    EXPECT_EQ(p["lastTopHeight"].get<double>(), s.lastTopHeight);
    EXPECT_EQ(p["lastTopDiam"].get<double>(), s.lastTopDiam);
    EXPECT_EQ(p["lengthSum"].get<double>(), s.lengthSum);
    EXPECT_EQ(p["meanTopDiam"].get<double>(), s.meanTopDiam);
    EXPECT_EQ(p["weightedTopDiam"].get<double>(), s.weightedTopDiam);
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out["totals"][kTotals[i]].get<double>(), d.totals[i]);
}

class XtkBuckJson : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/xtk_json_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    xtk("demo --save-inputs " + dir_.string() + " > /dev/null");
    tree_ = readJson(dir_ / "demo-tree.json");
    products_ = readJson(dir_ / "demo-products.json");
    // The same table with the sawlogs bound by the height limit.
    heightRuled_ = products_;
    heightRuled_[1]["heightRule"] = 1;
    std::ofstream(dir_ / "height-rule.json") << heightRuled_.dump();
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }

  static json buck(const std::string &extra, const char *products = "demo-products.json") {
    return json::parse(xtk("buck --json --tree " + (dir_ / "demo-tree.json").string() +
                           " --products " + (dir_ / products).string() + " " + extra));
  }

  static inline std::filesystem::path dir_;
  static inline json tree_, products_, heightRuled_;
};

TEST_F(XtkBuckJson, BuiltInExampleSequential) {
  const json out = buck("");
  EXPECT_EQ(out["method"], "sequential");
  expectSame(out, buckDirect(tree_, products_, {}), products_);
}

TEST_F(XtkBuckJson, BuiltInExampleOptimisedByValueDiffersFromSequential) {
  Params p;
  p.objective = 0;
  const json out = buck("--optimise value");
  expectSame(out, buckDirect(tree_, products_, p), products_);
  // The demo is there to show the search beating the priority order.
  EXPECT_GT(out["totals"]["totalValue"].get<double>(),
            buck("")["totals"]["totalValue"].get<double>());
}

TEST_F(XtkBuckJson, EveryParameterReachesTheExport) {
  Params p{0.5, 0.2, 2.5, 24, 12, -1};
  const json sequential = buck(
      "--stump-height 0.5 --stump-trim 0.2 --start-height 2.5 --top-limit 24 --height-limit 12",
      "height-rule.json");
  expectSame(sequential, buckDirect(tree_, heightRuled_, p), heightRuled_);
  EXPECT_EQ(sequential["logs"][0]["baseHeight"].get<double>(), 2.5);
  p.objective = 1;
  expectSame(buck("--stump-height 0.5 --stump-trim 0.2 --top-limit 24 --height-limit 12 "
                  "--optimise volume",
                  "height-rule.json"),
             buckDirect(tree_, heightRuled_, p), heightRuled_);
}

TEST(XtkTaperJson, AnswersAreTheExports) {
  const double coefs[] = {1.14, -1.23, 1.68, -3.14, 1.55}, exps[] = {0, 1, 2, 3, 4};
  const json out = json::parse(
      xtk("taper --json --dbh 32 --height 30 --coefs 1.14,-1.23,1.68,-3.14,1.55 --exps 0,1,2,3,4 "
          "--at 1.3,12.5 --height-at 20,7 --volume --log-count --form-factor "
          "--lower-height 0.3 --upper-height 25 --lower-diam 30 --upper-diam 7 --log-length 2.5"));
  EXPECT_EQ(out["diameters"][1]["diameter"].get<double>(), PHDiDll(32, 30, coefs, exps, 4, 12.5));
  EXPECT_EQ(out["heights"][0]["height"].get<double>(), PHHiDll(32, 30, coefs, exps, 4, 20));
  EXPECT_EQ(out["heights"][1]["height"].get<double>(), PHHiDll(32, 30, coefs, exps, 4, 7));
  EXPECT_EQ(out["volume"]["volume"].get<double>(),
            PHViDll(32, 30, coefs, exps, 4, 0.3, 25, 30, 7, 2.5));
  EXPECT_EQ(out["volume"]["accurate_volume"].get<double>(),
            PHVaDll(32, 30, coefs, exps, 4, 0.3, 25, 30, 7, 2.5));
  EXPECT_EQ(out["logCount"]["count"].get<int>(),
            PHCTDll(32, 30, coefs, exps, 4, 0.3, 25, 30, 7, 2.5));
  EXPECT_EQ(out["formFactor"].get<double>(), PHFFDll(coefs, exps, 4));
}

// A model as the options of xtk, every number with full precision.
std::string modelOptions(const std::vector<double> &coefs, const std::vector<double> &exps) {
  auto list = [](const std::vector<double> &values) {
    std::string out;
    for (double v : values) {
      if (!out.empty()) out += ',';
      out += xtk::num17(v);
    }
    return out;
  };
  return "--dbh 30 --height 25 --coefs " + list(coefs) + " --exps " + list(exps);
}

// 1.1 (1 - y) + 0.4 (1 - y)^34 multiplied out into powers of y.
void expandedModel(std::vector<double> &coefs, std::vector<double> &exps) {
  const int degree = 34;
  coefs.assign(degree + 1, 0.0);
  exps.clear();
  coefs[0] += 1.1;
  coefs[1] -= 1.1;
  double binomial = 1;
  for (int k = 0; k <= degree; ++k) {
    coefs[k] += 0.4 * binomial * (k % 2 ? -1 : 1);
    exps.push_back(k);
    binomial = binomial * (degree - k) / (k + 1);
  }
}

TEST(XtkTaperJson, CheckIsTheExport) {
  // The codes of the findings by the header's bits.
  const std::pair<int32_t, const char *> codes[] = {
      {XYLOTRAK_CHECK_VOLUME_ILL_CONDITIONED, "volume-ill-conditioned"},
      {XYLOTRAK_CHECK_DIAMETER_INCREASES, "diameter-increases"},
      {XYLOTRAK_CHECK_NEGATIVE_DIAMETER, "negative-diameter"},
      {XYLOTRAK_CHECK_NONZERO_TIP, "nonzero-tip"},
      {XYLOTRAK_CHECK_EXP0_NONZERO, "exp0-nonzero"}};
  std::vector<std::pair<std::vector<double>, std::vector<double>>> models = {
      {{1, -1}, {0, 1}},       {{1.15, -0.6, 0.9, -1.6, 0.8, -0.65}, {0, 0.5, 1, 2, 3, 5}},
      {{1, -3, 3}, {0, 1, 2}}, {{1, -4, 3}, {0, 1, 2}},
      {{1, -0.9}, {0, 1}},     {{1, -1}, {1, 2}}};
  models.emplace_back();
  expandedModel(models.back().first, models.back().second);
  int32_t seen = 0;
  for (const auto &[coefs, exps] : models) {
    const std::string options = modelOptions(coefs, exps);
    SCOPED_TRACE(options);
    const int terms = static_cast<int>(coefs.size()) - 1;
    int32_t digits = -1;
    const int32_t found = PHCkDll(30, 25, coefs.data(), exps.data(), terms, &digits);
    seen |= found;
    const json out = json::parse(xtk("taper --check --json " + options, found ? 3 : 0));
    json expected = json::array();
    for (const auto &[bit, code] : codes)
      if (found & bit) expected.push_back(code);
    EXPECT_EQ(out["findings"], expected);
    EXPECT_EQ(out["volume_digits"].get<int>(), digits);
    // The volume beside it: the accurate one always in JSON, in the text only where the
    // closed form cancels.
    const json volume = json::parse(xtk("taper --volume --json " + options))["volume"];
    EXPECT_EQ(volume["volume"].get<double>(),
              PHViDll(30, 25, coefs.data(), exps.data(), terms, 0, 0, 0, 0, 0));
    EXPECT_EQ(volume["accurate_volume"].get<double>(),
              PHVaDll(30, 25, coefs.data(), exps.data(), terms, 0, 0, 0, 0, 0));
    const std::string text = xtk("taper --volume " + options);
    EXPECT_EQ(text.find("; accurate: ") != std::string::npos,
              (found & XYLOTRAK_CHECK_VOLUME_ILL_CONDITIONED) != 0)
        << text;
  }
  // Every finding a model can have from xtk's options is among them.
  EXPECT_EQ(seen, 0x1f);
}

TEST(XtkModelFindings, CodesInTheOrderOfTheBits) {
  xtk::ModelFindings f;
  EXPECT_FALSE(f.any());
  EXPECT_TRUE(f.codes().empty());
  f.bits = XYLOTRAK_CHECK_NONZERO_TIP | XYLOTRAK_CHECK_VOLUME_ILL_CONDITIONED | 0x100;
  EXPECT_TRUE(f.any());
  EXPECT_TRUE(f.illConditioned());
  EXPECT_EQ(f.list(), "volume-ill-conditioned, nonzero-tip, unknown-0x100");
  // Every finding the library names, one a bit, each with its own sentence.
  f.bits = 0x7f;
  const std::vector<std::string> all = f.codes();
  ASSERT_EQ(all.size(), 7u);
  std::set<std::string> sentences;
  for (const std::string &code : all) {
    EXPECT_EQ(code.find("unknown"), std::string::npos) << code;
    sentences.insert(xtk::findingWords(code));
  }
  EXPECT_EQ(sentences.size(), 7u);
  EXPECT_EQ(xtk::findingWords("unknown-0x100"), "a finding this version of xtk does not describe");
}

}  // namespace

namespace {

TEST(XtkFormulaJson, EachFormulaTakesItsArgumentsInOrder) {
  auto result = [](const std::string &args) {
    return json::parse(xtk("formula " + args + " --json"))["result"].get<double>();
  };
  EXPECT_EQ(result("basal-area --diameter 32.5"), gDll(32.5));
  EXPECT_EQ(result("qmd --basal-area 31.2 --trees 412.5"), dgDll(31.2, 412.5));
  EXPECT_EQ(result("huber --diameter 24 --length 4.2"), VTHuDll(24, 4.2));
  EXPECT_EQ(result("cylinder --diameter 24 --length 4.2"), VTCiDll(24, 4.2));
  EXPECT_EQ(result("smalian --d1 31 --d2 22 --length 5"), VTSmDll(31, 22, 5));
  EXPECT_EQ(result("newton --d1 31 --mid 25 --d2 22 --length 5"), VTNwDll(31, 25, 22, 5));
  EXPECT_EQ(result("neiloid --d1 31 --d2 22 --length 5"), VTNeDll(31, 22, 5));
  EXPECT_EQ(result("cone --d1 31 --d2 22 --length 5"), VTCoDll(31, 22, 5));
}

TEST(XtkPlotAreaJson, AnswersAreTheExport) {
  double area = 0, l1 = 0, l2 = 0;
  CalcAreaDll(0.06, 20, 0, 12, 7, 1, 1, 0, 1, &area, &l1, &l2);
  const json rect = json::parse(
      xtk("plot-area --json --rectangular --area 0.06 --area-unit 1 --length1 20 --slope1 12 "
          "--slope2 7 --slope-correction"));
  EXPECT_EQ(rect["area"].get<double>(), area);
  EXPECT_EQ(rect["length1"].get<double>(), l1);
  EXPECT_EQ(rect["length2"].get<double>(), l2);
  const json circle = json::parse(xtk("plot-area --json --area 400"));
  EXPECT_EQ(circle["radius"].get<double>(), 11.283791670955125);
}

}  // namespace

namespace {

TEST(XtkPlotAreaText, TheAreaUnitIsTheCalculators) {
  // The heading names the area's unit; the area in it, times the unit, is the
  // plot's size in square length units whatever --area-unit and --unit-scale say.
  for (int areaUnit : {0, 1, 2, 7}) {
    for (int unitScale : {0, 3, 5}) {
      SCOPED_TRACE("area unit " + std::to_string(areaUnit) + ", unit scale " +
                   std::to_string(unitScale));
      const std::string out =
          xtk("plot-area --rectangular --length1 20 --length2 30 --area-unit " +
              std::to_string(areaUnit) + " --unit-scale " + std::to_string(unitScale));
      const std::string before = "horizontal area in units of ";
      const size_t at = out.find(before);
      ASSERT_NE(at, std::string::npos) << out;
      const double unit = std::stod(out.substr(at + before.size()));
      double area = 0;
      CalcAreaDll(0, 20, 30, 0, 0, 0, 1, unitScale, areaUnit, &area, nullptr, nullptr);
      EXPECT_DOUBLE_EQ(area * unit, 600);
    }
  }
}

TEST(XtkOutcomeText, EachSearchSaysWhyItGaveUp) {
  xtk::BuckParams breadthFirst, exact, sequential;
  breadthFirst.objective = 0;
  exact.objective = 0;
  exact.exact = true;
  const std::string searched = xtk::outcomeText(99, breadthFirst);
  const std::string optimum = xtk::outcomeText(99, exact);
  EXPECT_NE(searched.find("more than 10000 sequences"), std::string::npos) << searched;
  // The exact optimiser answers 99 only when its memory runs out.
  EXPECT_NE(optimum.find("out of memory"), std::string::npos) << optimum;
  EXPECT_EQ(optimum.find("sequences"), std::string::npos) << optimum;
  breadthFirst.objective = exact.objective = 1;
  EXPECT_EQ(xtk::outcomeText(99, breadthFirst), searched);
  EXPECT_EQ(xtk::outcomeText(99, exact), optimum);
  // The sequential bucking has no 99 of its own; the other outcomes read the
  // same for every method.
  EXPECT_EQ(xtk::outcomeText(99, sequential).find("given up"), std::string::npos);
  for (double outcome : {0.0, 1.0}) {
    EXPECT_EQ(xtk::outcomeText(outcome, exact), xtk::outcomeText(outcome, breadthFirst));
    EXPECT_EQ(xtk::outcomeText(outcome, sequential), xtk::outcomeText(outcome, breadthFirst));
  }
}

}  // namespace
