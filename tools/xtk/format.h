// Text output: numbers for machines and people, aligned tables.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace xtk {

// "%.17g": round-trips every double.
std::string num17(double v);
// Appends num17(v) to `out` without a temporary string.
void appendNum17(std::string &out, double v);
// The shortest text that reads back as v ("0.3").
std::string shortest(double v);
// Fixed-point with `decimals` digits after the point ("-" for NaN).
std::string fixed(double v, int decimals);

// Columns of text; numbers right-aligned, text left-aligned.
class Table {
 public:
  enum Align { Left, Right };
  void column(std::string title, Align align = Right);
  void row(std::vector<std::string> cells);
  // The table's lines: a header, a rule, the rows. Each line is indented by `indent`.
  std::vector<std::string> lines(int indent = 2) const;
  void print(std::ostream &out, int indent = 2) const;

 private:
  std::vector<std::string> titles_;
  std::vector<Align> align_;
  std::vector<std::vector<std::string>> rows_;
};

// Display width of UTF-8 text (code points, not bytes).
size_t displayWidth(const std::string &s);

}  // namespace xtk
