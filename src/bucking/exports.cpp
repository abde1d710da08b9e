// The single-tree bucking exports: each reads its arguments, runs the
// accounting prologue of its slot, asks its bucking core and counts the taper
// work the answer stands for.
#include "abi.h"
#include "accounting/accounting.h"
#include "accounting/inner_calls.h"
#include "bucking/bucking.h"
#include "bucking/search.h"
#include "xylotrak.h"

using namespace xylotrak;
using namespace xylotrak::bucking;

namespace {

// A searching export after reading its arguments: the prologue of its slot,
// the search, the taper work counted.
double bySearch(int slot, Search search, const taper::Model &model, const Heights &heights,
                ProductSpec *products, int productCount, int objective, const Totals &totals,
                LogEntry *logs) noexcept {
  return accounted(slot,
                   [&] {
                     return buckBySearch(search, model, heights, products, productCount, objective,
                                         totals, logs);
                   })
      .outcome;
}

}  // namespace

extern "C" {

XYLOTRAK_API double PHVsDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double startHeight, double topHeightLimit,
                            double /*unused8*/, double /*unused9*/, double stumpHeight,
                            double stumpTrim, double heightLimit, ProductSpec *products,
                            int productCount, double *productVolume, double *stumpVolume,
                            double *leftoverVolume, double *topVolume, double *trimVolume,
                            double *lossVolume, double *stemVolume, double *totalValue,
                            LogEntry *logs) {
  const taper::Model model{dbh, totalHeight, coefs, exps, low16(termCount)};
  const Heights heights{startHeight, topHeightLimit, stumpHeight, stumpTrim, heightLimit};
  const Totals totals{productVolume, stumpVolume, leftoverVolume, topVolume,
                      trimVolume,    lossVolume,  stemVolume,     totalValue};
  return accounted(
             accounting::kSequentialBucking,
             [&] { return buckSequentially(model, heights, products, productCount, totals, logs); })
      .outcome;
}

XYLOTRAK_API double PHVoDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double startHeight, double topHeightLimit,
                            double /*unused8*/, double /*unused9*/, double stumpHeight,
                            double stumpTrim, double heightLimit, ProductSpec *products,
                            int productCount, int objective, double *productVolume,
                            double *stumpVolume, double *leftoverVolume, double *topVolume,
                            double *trimVolume, double *lossVolume, double *stemVolume,
                            double *totalValue, LogEntry *logs) {
  return bySearch(accounting::kOptimisedBucking, &breadthFirstSearch,
                  {dbh, totalHeight, coefs, exps, low16(termCount)},
                  {startHeight, topHeightLimit, stumpHeight, stumpTrim, heightLimit}, products,
                  productCount, objective,
                  {productVolume, stumpVolume, leftoverVolume, topVolume, trimVolume, lossVolume,
                   stemVolume, totalValue},
                  logs);
}

XYLOTRAK_API double PHVxDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double startHeight, double topHeightLimit,
                            double /*unused8*/, double /*unused9*/, double stumpHeight,
                            double stumpTrim, double heightLimit, ProductSpec *products,
                            int productCount, int objective, double *productVolume,
                            double *stumpVolume, double *leftoverVolume, double *topVolume,
                            double *trimVolume, double *lossVolume, double *stemVolume,
                            double *totalValue, LogEntry *logs) {
  return bySearch(accounting::kExactBucking, &exactSearch,
                  {dbh, totalHeight, coefs, exps, low16(termCount)},
                  {startHeight, topHeightLimit, stumpHeight, stumpTrim, heightLimit}, products,
                  productCount, objective,
                  {productVolume, stumpVolume, leftoverVolume, topVolume, trimVolume, lossVolume,
                   stemVolume, totalValue},
                  logs);
}

XYLOTRAK_API int32_t PHZnDll(double dbh, double totalHeight, const double *coefs,
                             const double *exps, int termCount, double stumpHeight,
                             double stumpTrim, const LogEntry *logs, const double *totals,
                             double *zones) {
  if (logs == nullptr || totals == nullptr || zones == nullptr) return -1;
  Stem stem({dbh, totalHeight, coefs, exps, low16(termCount)}, taper::Memory::kNone);
  const Zones z = stemZones(stem, stumpHeight, stumpTrim, logs, totals);
  accounting::countInnerCalls(stem.tally());
  zones[0] = z.lastTrimTop;
  zones[1] = z.topStart;
  zones[2] = z.topDiam;
  return 0;
}

}  // extern "C"
