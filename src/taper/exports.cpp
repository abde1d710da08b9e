// The taper exports: each reads its arguments, runs its accounting prologue,
// asks the taper core and counts the inner calls the answer stands for.
#include <cstdint>

#include "abi.h"
#include "accounting/accounting.h"
#include "accounting/inner_calls.h"
#include "taper/evaluation.h"
#include "taper/model_check.h"
#include "taper/profile.h"
#include "xylotrak.h"

using namespace xylotrak;

namespace {

taper::Model modelOf(double dbh, double totalHeight, const double *coefs, const double *exps,
                     int termCount) noexcept {
  return {dbh, totalHeight, coefs, exps, low16(termCount)};
}

}  // namespace

extern "C" {

XYLOTRAK_API double PHDiDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double height) {
  accounting::enter(accounting::kDiameter);
  return taper::diameter(modelOf(dbh, totalHeight, coefs, exps, termCount), height);
}

XYLOTRAK_API double PHHiDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double targetDiam) {
  accounting::enter(accounting::kHeight);
  const taper::HeightSearch found =
      taper::heightAt(modelOf(dbh, totalHeight, coefs, exps, termCount), targetDiam);
  accounting::enterMany(accounting::kDiameter, static_cast<std::uint64_t>(found.rounds));
  return found.height;
}

XYLOTRAK_API double PHViDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double lowerHeight, double upperHeight, double lowerDiam,
                            double upperDiam, double logLength) {
  accounting::enter(accounting::kVolume);
  taper::Evaluator stem(modelOf(dbh, totalHeight, coefs, exps, termCount), taper::Memory::kNone);
  const double volume = stem.volume(lowerHeight, upperHeight, lowerDiam, upperDiam, logLength);
  taper::CallTally inner = stem.tally();
  inner.volume -= 1;  // the call itself, counted by its prologue
  accounting::countInnerCalls(inner);
  return volume;
}

XYLOTRAK_API double PHFFDll(const double *coefs, const double *exps, int termCount) {
  accounting::enter(accounting::kFormFactor);
  const int n = low16(termCount);
  if (n < 0) return 0;  // there is no last term to read
  return taper::formFactor(coefs, exps, n);
}

XYLOTRAK_API int32_t PHCTDll(double dbh, double totalHeight, const double *coefs,
                             const double *exps, int termCount, double lowerHeight,
                             double upperHeight, double lowerDiam, double upperDiam,
                             double logLength) {
  accounting::enter(accounting::kLogCount);
  taper::Evaluator stem(modelOf(dbh, totalHeight, coefs, exps, termCount), taper::Memory::kNone);
  const taper::Section section =
      stem.section({lowerHeight, upperHeight, lowerDiam, upperDiam, logLength});
  accounting::countInnerCalls(stem.tally());
  return taper::wholeLogs(section, logLength);
}

XYLOTRAK_API int32_t PHCkDll(double dbh, double totalHeight, const double *coefs,
                             const double *exps, int termCount, int32_t *volumeDigits) {
  const taper::ModelCheck check = taper::checkModel(dbh, totalHeight, coefs, exps, termCount);
  if (volumeDigits != nullptr) *volumeDigits = check.volumeDigits;
  return check.findings;
}

XYLOTRAK_API double PHVaDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double lowerHeight, double upperHeight, double lowerDiam,
                            double upperDiam, double logLength) {
  const taper::Model model = modelOf(dbh, totalHeight, coefs, exps, termCount);
  taper::Evaluator stem(model, taper::Memory::kNone);
  const taper::Section section =
      stem.section({lowerHeight, upperHeight, lowerDiam, upperDiam, logLength});
  accounting::countInnerCalls(stem.tally());  // its height searches count as PHHiDll calls
  const double upper = taper::wholeLogsTop(section, logLength);
  const double volume = taper::accurateVolumeBetween(model, section.lower, upper);
  return volume > 0 ? volume : 0;  // also for an empty section, a NaN or no memory
}

}  // extern "C"
