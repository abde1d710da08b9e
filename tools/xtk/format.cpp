#include "format.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace xtk {

void appendNum17(std::string &out, double v) {
  char buf[40];
  // The precision overload of to_chars formats exactly as printf's %.17g.
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
  out.append(buf, r.ptr);
}

std::string shortest(double v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::string num17(double v) {
  std::string s;
  appendNum17(s, v);
  return s;
}

std::string fixed(double v, int decimals) {
  if (std::isnan(v)) return "-";
  // Room for the usual numbers; a larger one (up to 309 digits before the
  // point) is formatted again into the size it needs.
  std::string s(64, '\0');
  int n = std::snprintf(s.data(), s.size(), "%.*f", decimals, v);
  if (n >= static_cast<int>(s.size())) {
    s.resize(static_cast<size_t>(n) + 1);
    n = std::snprintf(s.data(), s.size(), "%.*f", decimals, v);
  }
  s.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return s;
}

size_t displayWidth(const std::string &s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

void Table::column(std::string title, Align align) {
  titles_.push_back(std::move(title));
  align_.push_back(align);
}

void Table::row(std::vector<std::string> cells) {
  cells.resize(titles_.size());
  rows_.push_back(std::move(cells));
}

std::vector<std::string> Table::lines(int indent) const {
  std::vector<size_t> width(titles_.size());
  for (size_t c = 0; c < titles_.size(); ++c) {
    width[c] = displayWidth(titles_[c]);
    for (const auto &r : rows_) width[c] = std::max(width[c], displayWidth(r[c]));
  }
  auto line = [&](const std::vector<std::string> &cells) {
    std::string out(indent, ' ');
    for (size_t c = 0; c < cells.size(); ++c) {
      const std::string pad(width[c] - displayWidth(cells[c]), ' ');
      if (c) out += "  ";
      out += align_[c] == Right ? pad + cells[c] : cells[c] + (c + 1 < cells.size() ? pad : "");
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
  };
  std::vector<std::string> out{line(titles_)};
  size_t total = 0;
  for (size_t c = 0; c < width.size(); ++c) total += width[c] + (c ? 2 : 0);
  std::string rule(indent, ' ');
  rule.append(total, '-');
  out.push_back(rule);
  for (const auto &r : rows_) out.push_back(line(r));
  return out;
}

void Table::print(std::ostream &out, int indent) const {
  for (const auto &l : lines(indent)) out << l << '\n';
}

}  // namespace xtk
