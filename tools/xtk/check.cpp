#include "check.h"

#include <charconv>
#include <iostream>

#include "words.h"

namespace xtk {

namespace {

constexpr int kFindingBits = 32;

}  // namespace

std::string findingWords(const std::string &code) {
  for (int b = 0; b < kFindingBits; ++b) {
    if (libraryWord(XYLOTRAK_WORDS_FINDING, b) == code)
      return libraryWord(XYLOTRAK_WORDS_FINDING_TEXT, b).value_or("");
  }
  return "a finding this version of xtk does not describe";
}

std::vector<std::string> ModelFindings::codes() const {
  std::vector<std::string> out;
  for (int b = 0; b < kFindingBits; ++b) {
    const std::uint32_t bit = std::uint32_t{1} << b;
    if ((static_cast<std::uint32_t>(bits) & bit) == 0) continue;
    if (const std::optional<std::string> code = libraryWord(XYLOTRAK_WORDS_FINDING, b)) {
      out.push_back(*code);
    } else {
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
