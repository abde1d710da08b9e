#include "report.h"

#include "words.h"

namespace xtk {

using json = nlohmann::ordered_json;

// The library's column names: the logs' without the tree's id, the totals'
// with it (servedByExact, the last, only where a run marks it). Asked of the
// library when needed, not at start-up, where a failure could not be caught.
std::string logsCsvHeader() { return libraryWordList(XYLOTRAK_WORDS_LOG_COLUMN, 1, kLogColumns); }
std::string totalsCsvHeader() {
  return libraryWordList(XYLOTRAK_WORDS_TOTALS_COLUMN, 0, kTotalsColumns - 1);
}

namespace {

std::string compact(double v) {
  std::string s = fixed(v, 3);
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

// A product's name; a number outside the table (which a sound library never
// reports) reads "product N", as an unnamed product does.
std::string productName(const std::vector<Product> &products, int number) {
  return number >= 1 && number <= static_cast<int>(products.size())
             ? products[number - 1].name
             : "product " + std::to_string(number);
}

// A log-table row; a log row carries its product's name after its number.
json rowJson(const LogEntry &r, const std::string *name = nullptr) {
  json j = {{"logNumber", r.logNumber}, {"productNumber", r.productNumber}};
  if (name) j["productName"] = *name;
  const std::pair<const char *, double> fields[] = {
      {"baseHeight", r.baseHeight},       {"length", r.length},     {"topHeight", r.topHeight},
      {"trimTopHeight", r.trimTopHeight}, {"baseDiam", r.baseDiam}, {"topDiam", r.topDiam},
      {"trimTopDiam", r.trimTopDiam},     {"volume", r.volume},     {"value", r.value}};
  for (const auto &[key, v] : fields) j[key] = v;
  return j;
}

}  // namespace

std::string treeSummary(const Tree &tree) {
  return "dbh " + compact(tree.dbh) + " cm, height " + compact(tree.height) + " m, " +
         std::to_string(tree.model.terms()) + "-term taper";
}

json treeJson(const Tree &tree) {
  return {{"dbh", tree.dbh},
          {"height", tree.height},
          {"coefs", tree.model.coefs},
          {"exps", tree.model.exps}};
}

std::string outcomeText(double outcome, const BuckParams &params, bool servedByExact) {
  if (outcome == 1 && servedByExact) return "bucked by the exact optimiser (the search gave up)";
  if (outcome == 1) return "bucked";
  if (outcome == 0) return "no sequence of logs found";
  // Both searches give up with 99, each for its own reason; the sequential
  // bucking always answers 1.
  if (outcome == 99 && params.objective >= 0)
    return params.exact ? "search given up: the exact optimiser ran out of memory"
                        : "search given up: a generation left more than 10000 sequences";
  return "outcome " + num17(outcome);
}

Table logTable(const std::vector<Product> &products, const BuckResult &result) {
  Table t;
  t.column("log");
  t.column("product", Table::Left);
  t.column("base m");
  t.column("length m");
  t.column("top cm");
  t.column("m3");
  t.column("value");
  for (int k = 1; k <= result.logCount; ++k) {
    const LogEntry &r = result.rows[k];
    t.row({std::to_string(k), productName(products, r.productNumber), fixed(r.baseHeight, 2),
           fixed(r.length, 2), fixed(r.topDiam, 1), fixed(r.volume, 4), fixed(r.value, 2)});
  }
  return t;
}

Table totalsTable(const std::vector<std::string> &titles,
                  const std::vector<const BuckResult *> &results) {
  static const char *const labels[TotalCount] = {
      "product volume (m3)", "stump (m3)", "leftover (m3)",   "top (m3)",
      "trims (m3)",          "loss (m3)",  "whole stem (m3)", "total value"};
  Table t;
  t.column("", Table::Left);
  for (const auto &title : titles) t.column(title);
  std::vector<std::string> logs{"logs"};
  for (const auto *r : results) logs.push_back(std::to_string(r->logCount));
  t.row(logs);
  for (int i = 0; i < TotalCount; ++i) {
    std::vector<std::string> cells{labels[i]};
    for (const auto *r : results) cells.push_back(fixed(r->totals[i], i == TotalValue ? 2 : 4));
    t.row(cells);
  }
  return t;
}

void printBuckTable(std::ostream &out, const Tree &tree, const std::vector<Product> &products,
                    const BuckParams &params, const BuckResult &result) {
  out << "Tree: " << treeSummary(tree) << "\n";
  out << "Bucking: " << methodName(params) << ", stump " << compact(params.stumpHeight) << " m";
  if (params.stumpTrim > 0) out << " + " << compact(params.stumpTrim) << " m trim";
  out << ": " << outcomeText(result.outcome, params, result.servedByExact) << "\n\n";
  if (result.outcome == 1) {
    Table logs;
    for (const char *title : {"log", "product", "base m", "length m", "top m", "trim top m",
                              "base cm", "top cm", "volume m3", "value"})
      logs.column(title, std::string(title) == "product" ? Table::Left : Table::Right);
    for (int k = 0; k <= result.logCount; ++k) {
      const LogEntry &r = result.rows[k];
      logs.row({k ? std::to_string(k) : "", k ? productName(products, r.productNumber) : "stump",
                fixed(r.baseHeight, 2), fixed(r.length, 2), fixed(r.topHeight, 2),
                fixed(r.trimTopHeight, 2), fixed(r.baseDiam, 1), fixed(r.topDiam, 1),
                fixed(r.volume, 4), k ? fixed(r.value, 2) : ""});
    }
    logs.print(out);
    out << "\n";
  }
  Table prod;
  for (const char *title : {"#", "product", "logs", "length m", "volume m3", "value", "last top m",
                            "mean top cm", "weighted top cm"})
    prod.column(title, std::string(title) == "product" ? Table::Left : Table::Right);
  for (size_t i = 0; i < result.products.size(); ++i) {
    const ProductSpec &p = result.products[i];
    prod.row({std::to_string(i + 1), products[i].name, std::to_string(p.logCount),
              fixed(p.lengthSum, 2), fixed(p.volumeSum, 4), fixed(p.valueSum, 2),
              fixed(p.lastTopHeight, 2), fixed(p.meanTopDiam, 1), fixed(p.weightedTopDiam, 1)});
  }
  prod.print(out);
  out << "\n";
  totalsTable({"total"}, {&result}).print(out);
}

json buckJson(const Tree &tree, const std::vector<Product> &products, const BuckParams &params,
              const BuckResult &result) {
  json logs = json::array();
  for (int k = 1; k <= result.logCount; ++k) {
    const std::string name = productName(products, result.rows[k].productNumber);
    logs.push_back(rowJson(result.rows[k], &name));
  }
  json prods = json::array();
  for (size_t i = 0; i < result.products.size(); ++i) {
    const ProductSpec &p = result.products[i];
    json o = {{"productNumber", i + 1}, {"name", products[i].name}};
    for (const auto &f : productFields()) o[f.name] = f.real ? json(p.*f.real) : json(p.*f.whole);
    o["logCount"] = p.logCount;
    o["volumeSum"] = p.volumeSum;
    o["valueSum"] = p.valueSum;
    o["lastTopHeight"] = p.lastTopHeight;
    o["lastTopDiam"] = p.lastTopDiam;
    o["lengthSum"] = p.lengthSum;
    o["meanTopDiam"] = p.meanTopDiam;
    o["weightedTopDiam"] = p.weightedTopDiam;
    prods.push_back(std::move(o));
  }
  json totals = json::object();
  for (int i = 0; i < TotalCount; ++i) totals[kTotalNames[i]] = result.totals[i];
  json out = {{"tree", treeJson(tree)},
              {"method", params.objective < 0 ? "sequential"
                         : params.exact       ? "exact"
                                              : "optimised"},
              {"objective", params.objective < 0    ? json(nullptr)
                            : params.objective == 0 ? json("value")
                                                    : json("volume")},
              {"parameters",
               {{"stumpHeight", params.stumpHeight},
                {"stumpTrim", params.stumpTrim},
                {"startHeight", params.startHeight},
                {"topHeightLimit", params.topHeightLimit},
                {"heightLimit", params.heightLimit}}},
              {"outcome", result.outcome},
              {"logCount", result.logCount},
              {"stump", rowJson(result.rows[0])},
              {"logs", std::move(logs)},
              {"products", std::move(prods)},
              {"totals", std::move(totals)}};
  // Only a bucking that may fall back says whether it did.
  if (params.exactWhenGivenUp) out["servedByExact"] = result.servedByExact;
  return out;
}

void appendLogRows(std::string &out, const std::string *id, const std::vector<Product> &products,
                   const BuckResult &result) {
  appendLogRows(out, id, products, result.rows.data() + 1, result.logCount);
}

void appendLogRows(std::string &out, const std::string *id, const std::vector<Product> &products,
                   const LogEntry *logs, int logCount) {
  for (int k = 0; k < logCount; ++k) {
    const LogEntry &r = logs[k];
    if (id) {
      out += *id;
      out += ',';
    }
    out += std::to_string(r.logNumber);
    out += ',';
    out += std::to_string(r.productNumber);
    out += ',';
    out += csvCell(productName(products, r.productNumber));
    for (double v : {r.baseHeight, r.length, r.topHeight, r.trimTopHeight, r.baseDiam, r.topDiam,
                     r.trimTopDiam, r.volume, r.value}) {
      out += ',';
      appendNum17(out, v);
    }
    out += '\n';
  }
}

void appendTotalsRow(std::string &out, const std::string &id, const BuckResult &result) {
  appendTotalsRow(out, id, result.outcome, result.logCount, result.totals.data());
}

void appendTotalsRow(std::string &out, const std::string &id, double outcome, int logCount,
                     const double *totals) {
  out += id;
  out += ',';
  out += std::to_string(static_cast<int>(outcome));
  out += ',';
  out += std::to_string(logCount);
  for (int i = 0; i < TotalCount; ++i) {
    out += ',';
    appendNum17(out, totals[i]);
  }
  out += '\n';
}

}  // namespace xtk
