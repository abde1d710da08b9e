// How xtk shows a tree's taper and its bucking: tables, JSON and CSV.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "format.h"
#include "stem.h"

namespace xtk {

// "dbh 30 cm, height 30 m, 5-term taper".
std::string treeSummary(const Tree &tree);
nlohmann::ordered_json treeJson(const Tree &tree);

// What the outcome of a bucking by the method of `params` means, in words.
std::string outcomeText(double outcome, const BuckParams &params, bool servedByExact = false);

// The bucking as readable tables: logs, products, totals.
void printBuckTable(std::ostream &out, const Tree &tree, const std::vector<Product> &products,
                    const BuckParams &params, const BuckResult &result);

// The compact log list of a bucking (used side by side in the demo).
Table logTable(const std::vector<Product> &products, const BuckResult &result);
// The totals of several buckings as columns.
Table totalsTable(const std::vector<std::string> &titles,
                  const std::vector<const BuckResult *> &results);

// Everything the bucking wrote, with full precision.
nlohmann::ordered_json buckJson(const Tree &tree, const std::vector<Product> &products,
                                const BuckParams &params, const BuckResult &result);

// The columns and rows of the logs and totals CSV files. The tree's `id` is
// the first cell of each log row when it is given (not null); the totals row
// always starts with it.
constexpr int kLogColumns = 13;     // id and the twelve fields of a log
constexpr int kTotalsColumns = 12;  // id, outcome, logCount, the eight totals, servedByExact
std::string logsCsvHeader();
std::string totalsCsvHeader();
void appendLogRows(std::string &out, const std::string *id, const std::vector<Product> &products,
                   const BuckResult &result);
void appendTotalsRow(std::string &out, const std::string &id, const BuckResult &result);
// The same from a bucking's rows 1..logCount (`logs` points at row 1), its
// outcome and its eight totals.
void appendLogRows(std::string &out, const std::string *id, const std::vector<Product> &products,
                   const LogEntry *logs, int logCount);
void appendTotalsRow(std::string &out, const std::string &id, double outcome, int logCount,
                     const double *totals);

}  // namespace xtk
