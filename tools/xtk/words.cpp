#include "words.h"

#include <vector>

#include "format.h"
#include "xylotrak.h"

namespace xtk {

std::optional<std::string> libraryWord(int vocabulary, int index) {
  const std::int32_t n = xylotrak_words(vocabulary, index, nullptr, 0);
  if (n < 0) return std::nullopt;
  std::vector<xylotrak_char16> text(static_cast<std::size_t>(n) + 1);
  xylotrak_words(vocabulary, index, text.data(), n + 1);
  // The words are ASCII.
  return std::string(text.begin(), text.begin() + n);
}

std::string libraryWordList(int vocabulary, int first, int end) {
  std::string out;
  for (int k = first; k < end; ++k) {
    if (k > first) out += ',';
    out += libraryWord(vocabulary, k).value_or("");
  }
  return out;
}

double buckingDefault(int which) { return xylotrak_bucking_default(which); }

std::string buckingDefaultText(int which) { return shortest(buckingDefault(which)); }

std::vector<double> fitDefault(int which) {
  const std::int32_t n = xylotrak_fit_default(which, nullptr, 0);
  std::vector<double> values(static_cast<std::size_t>(n > 0 ? n : 0));
  if (n > 0) xylotrak_fit_default(which, values.data(), n);
  return values;
}

std::string fitDefaultText(int which) {
  std::string out;
  for (double v : fitDefault(which)) out += (out.empty() ? "" : ",") + shortest(v);
  return out;
}

}  // namespace xtk
