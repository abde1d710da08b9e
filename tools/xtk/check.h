// The library's model check (PHCkDll) as xtk reports it: a code for each
// finding, for scripts and JSON, and a sentence for people.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "input.h"

namespace xtk {

struct ModelFindings {
  std::int32_t bits = 0;
  int volumeDigits = 0;  // correct significant digits of the closed-form volume, 0..15

  bool any() const { return bits != 0; }
  bool illConditioned() const { return (bits & XYLOTRAK_CHECK_VOLUME_ILL_CONDITIONED) != 0; }
  // The codes of the findings in bit order, as the library names them; a
  // bit it does not name reads "unknown-0x80".
  std::vector<std::string> codes() const;
  // The codes separated by ", ".
  std::string list() const;
};

// The sentence of a finding's code (of codes() below).
std::string findingWords(const std::string &code);

// The check of a tree's model through PHCkDll.
ModelFindings checkTaperModel(double dbh, double height, const Model &model);

// What buck and batch do with a model that has findings: one warning line on
// standard error, "xtk: warning: <place>: taper model findings: <codes> ...",
// or when `strict` the InputError "<place>: taper model findings: <codes>
// (--strict)". `place` names the tree or model. Nothing without findings.
void reportFindings(const std::string &place, const ModelFindings &findings, bool strict);

}  // namespace xtk
