// Reading what the user gives xtk: numbers, trees, models, product tables and
// CSV files. Every failure is an InputError whose message names the file (or
// option), the line and the field, ready to print on one line.
#pragma once

#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "xylotrak.h"

namespace xtk {

struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws InputError("<where>: <what>").
[[noreturn]] void fail(const std::string &where, const std::string &what);

// "file:line".
std::string at(const std::string &file, int line);

// A finite decimal number filling the whole text (surrounding blanks allowed).
std::optional<double> toNumber(std::string_view text);

// As toNumber, or InputError "<where>: field '<field>': not a number: "<text>"".
double numberField(std::string_view text, const std::string &where, const std::string &field);

// Numbers separated by `sep` (a comma for options; a blank for inventory
// cells, where runs of blanks count as one separator).
std::vector<double> numberList(std::string_view text, char sep, const std::string &where,
                               const std::string &field);

// A taper model: coefs and exps of equal length n + 1, termCount n.
struct Model {
  std::vector<double> coefs, exps;
  int terms() const { return static_cast<int>(coefs.size()) - 1; }
};

struct Tree {
  double dbh = 0, height = 0;
  Model model;
};

// Where a tree's values were read, so that a fault in one is reported at its
// place: the options --dbh, --height, --coefs and --exps ("option --dbh: ..."),
// or fields of a file ("trees.csv:4: field 'dbh': ...").
class TreeSource {
 public:
  enum class Value { Dbh, Height, Coefs, CoefsAndExps };

  static TreeSource options();
  // Fields at places "file:line": all at one place, or dbh, height and the
  // model (coefs and exps) each at its own.
  static TreeSource fields(const std::string &at);
  static TreeSource fields(const std::string &dbhAt, const std::string &heightAt,
                           const std::string &modelAt);

  // Throws InputError "<place of value>: <what>".
  [[noreturn]] void reject(Value value, const std::string &what) const;

 private:
  bool options_ = false;
  std::string dbhAt_, heightAt_, modelAt_;
};

// The rules every tree meets, whichever way it was given; each reader calls
// them as soon as it has the values they check. Dimensions: dbh and height
// greater than 0. Model: at least one coefficient, as many exponents as
// coefficients and at most 32768 of each (termCount fits 16 bits).
void checkDimensions(double dbh, double height, const TreeSource &source);
void checkModel(const Model &m, const TreeSource &source);

// {"dbh": .., "height": .., "coefs": [..], "exps": [..]}
Tree readTreeJson(const std::string &path);

// {"<name>": {"coefs": [..], "exps": [..]}, ...}
std::map<std::string, Model> readModelsJson(const std::string &path);

struct Product {
  ProductSpec record{};
  std::string name;
};

// A product table from JSON or CSV, chosen by the file's extension.
std::vector<Product> readProducts(const std::string &path);

// The input fields of ProductSpec, in record order.
struct ProductField {
  const char *name;
  double ProductSpec::*real;  // null for a 16-bit field
  int16_t ProductSpec::*whole;
};
const std::vector<ProductField> &productFields();

// Shared by the product readers (input_json.cpp, input_csv.cpp).
std::vector<Product> readProductsJson(const std::string &path);
std::vector<Product> readProductsCsv(const std::string &path);
// Stores one field's value; a 16-bit field takes only a whole number in
// -32768..32767, else InputError "<where>: field '<name>': ..." with the value
// as the file has it (`shown`).
void setProductField(ProductSpec &record, const ProductField &field, double value,
                     const std::string &where, const std::string &shown);
// InputError unless a table has 1 to 32767 products.
void checkProductCount(size_t count, const std::string &path);
// "field '<name>'".
std::string fieldName(const std::string &field);
// The text without its leading and trailing blanks and tabs.
std::string_view trimBlanks(std::string_view text);

// A CSV file read line by line: comma-separated cells, a cell may be quoted
// with double quotes ("" inside a quoted cell is one quote); blank lines are
// skipped. A line ending in \r\n counts as \n.
class CsvReader {
 public:
  explicit CsvReader(const std::string &path);
  // Reads the next non-blank line into `cells`; false at the end of the file.
  // A malformed line (a stray or unterminated quote) throws InputError.
  bool next(std::vector<std::string> &cells);
  int line() const { return line_; }
  const std::string &path() const { return path_; }

  // The header row: column names, each once. Throws on a missing header.
  std::vector<std::string> header();

 private:
  std::string path_;
  std::ifstream in_;
  int line_ = 0;
  std::string buffer_;
};

// Reads the rows after the header, calling `row(cells, line, where)` for each
// ("file:line" in `where`). A row that is malformed, has another number of
// cells than `columns`, or for which `row` throws InputError is reported on
// standard error, counted in `skipped` and passed over.
void forEachCsvRow(
    CsvReader &csv, size_t columns, int &skipped,
    const std::function<void(const std::vector<std::string> &, int, const std::string &)> &row);

// Splits one CSV line into cells; the reason when the line is malformed.
std::optional<std::string> splitCsvLine(std::string_view line, std::vector<std::string> &cells);

// A CSV cell, quoted when it holds a comma, a quote or a line break.
std::string csvCell(const std::string &text);

// Reads a whole file; InputError "<path>: cannot read: <reason>".
std::string readFile(const std::string &path);

}  // namespace xtk
