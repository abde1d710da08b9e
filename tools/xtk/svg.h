// A picture of a bucked stem: the taper outline lying along a height axis,
// every log shaded by its product with its length and top diameter, and the
// stump, trims, leftover and top marked.
#pragma once

#include <string>
#include <vector>

#include "stem.h"

namespace xtk {

struct SvgPanel {
  std::string title;
  BuckParams params;
  const BuckResult *result;
};

// One panel per bucking of the same tree, stacked, with one legend.
std::string renderSvg(const Tree &tree, const std::vector<Product> &products,
                      const std::vector<SvgPanel> &panels);

// Text for XML content or a quoted attribute: & < > " ' as entities, and the
// control characters XML 1.0 does not allow (all but tab) left out.
std::string xmlEscape(const std::string &s);

// Writes a file whole or not at all (a temporary name renamed at the end).
// Throws InputError when it cannot.
void writeFileAtomically(const std::string &path, const std::string &content);

}  // namespace xtk
