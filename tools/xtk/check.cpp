#include "check.h"

#include <charconv>
#include <iostream>

namespace xtk {

const std::array<FindingKind, 7> kFindingKinds = {{
    {XYLOTRAK_CHECK_VOLUME_ILL_CONDITIONED, "volume-ill-conditioned",
     "the closed-form volume cancels and keeps fewer than 6 correct digits"},
    {XYLOTRAK_CHECK_DIAMETER_INCREASES, "diameter-increases",
     "the diameter grows with height somewhere on the stem"},
    {XYLOTRAK_CHECK_NEGATIVE_DIAMETER, "negative-diameter",
     "the profile falls below 0 under the tip, where diameters read 0"},
    {XYLOTRAK_CHECK_NONZERO_TIP, "nonzero-tip", "the diameter at the tip is not 0"},
    {XYLOTRAK_CHECK_EXP0_NONZERO, "exp0-nonzero",
     "exps[0] is not 0: volumes integrate coefs[0] (h/H)^exps[0], diameters take coefs[0] "
     "alone"},
    {XYLOTRAK_CHECK_NONFINITE, "nonfinite",
     "a coefficient, an exponent, dbh or height is not a finite number"},
    {XYLOTRAK_CHECK_BAD_TERM_COUNT, "bad-term-count", "the term count does not fit in 16 bits"},
}};

const char *findingWords(const std::string &code) {
  for (const FindingKind &k : kFindingKinds)
    if (code == k.code) return k.words;
  return "a finding this version of xtk does not describe";
}

std::vector<std::string> ModelFindings::codes() const {
  std::vector<std::string> out;
  std::int32_t known = 0;
  for (const FindingKind &k : kFindingKinds) {
    known |= k.bit;
    if (bits & k.bit) out.emplace_back(k.code);
  }
  const auto unknown = static_cast<std::uint32_t>(bits & ~known);
  for (int b = 0; b < 32; ++b) {
    const std::uint32_t bit = std::uint32_t{1} << b;
    if (unknown & bit) {
      char hex[16];
      const auto written = std::to_chars(hex, hex + sizeof hex, bit, 16);
      out.push_back("unknown-0x" + std::string(hex, written.ptr));
    }
  }
  return out;
}

std::string ModelFindings::list() const {
  std::string out;
  for (const auto &code : codes()) {
    if (!out.empty()) out += ", ";
    out += code;
  }
  return out;
}

ModelFindings checkTaperModel(double dbh, double height, const Model &model) {
  ModelFindings f;
  std::int32_t digits = 0;
  f.bits = PHCkDll(dbh, height, model.coefs.data(), model.exps.data(), model.terms(), &digits);
  f.volumeDigits = digits;
  return f;
}

void reportFindings(const std::string &place, const ModelFindings &findings, bool strict) {
  if (!findings.any()) return;
  const std::string what = "taper model findings: " + findings.list();
  if (strict) fail(place, what + " (--strict)");
  std::cerr << "xtk: warning: " << place << ": " << what << " (see xtk taper --check)\n";
}

}  // namespace xtk
