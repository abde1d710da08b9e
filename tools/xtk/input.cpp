// What the readers of xtk's input share: locating and raising faults, numbers
// in text, the rules of a tree, and the fields of a product table.
#include "input.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>

namespace xtk {

void fail(const std::string &where, const std::string &what) {
  throw InputError(where + ": " + what);
}

std::string at(const std::string &file, int line) { return file + ":" + std::to_string(line); }

std::string fieldName(const std::string &field) { return "field '" + field + "'"; }

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

namespace {

enum class NumberStatus { Ok, NotANumber, NotFinite };

NumberStatus parseNumber(std::string_view text, double &out) {
  text = trimBlanks(text);
  if (text.empty()) return NumberStatus::NotANumber;
  const char *b = text.data(), *e = text.data() + text.size();
  if (*b == '+') {
    ++b;
    if (b == e || *b == '-') return NumberStatus::NotANumber;
  }
  // from_chars also reads "inf" and "nan": they are words, not numbers here.
  for (const char *p = b; p != e; ++p)
    if (std::isalpha(static_cast<unsigned char>(*p)) && *p != 'e' && *p != 'E')
      return NumberStatus::NotANumber;
  double v = 0;
  const auto [p, ec] = std::from_chars(b, e, v, std::chars_format::general);
  if (ec == std::errc::result_out_of_range && p == e) return NumberStatus::NotFinite;
  if (ec != std::errc() || p != e) return NumberStatus::NotANumber;
  if (!std::isfinite(v)) return NumberStatus::NotFinite;
  out = v;
  return NumberStatus::Ok;
}

std::string quoted(std::string_view s) {
  std::string q = "\"";
  for (char c : s.substr(0, 60)) q += (c == '"' ? '\'' : c);
  if (s.size() > 60) q += "...";
  return q + "\"";
}

bool endsWith(const std::string &s, const std::string &suffix) {
  if (s.size() < suffix.size()) return false;
  return std::equal(suffix.rbegin(), suffix.rend(), s.rbegin(),
                    [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

}  // namespace

// ------------------------------------------------------------ numbers

std::optional<double> toNumber(std::string_view text) {
  double v = 0;
  if (parseNumber(text, v) != NumberStatus::Ok) return std::nullopt;
  return v;
}

double numberField(std::string_view text, const std::string &where, const std::string &field) {
  double v = 0;
  switch (parseNumber(text, v)) {
    case NumberStatus::Ok:
      return v;
    case NumberStatus::NotFinite:
      fail(where, fieldName(field) + ": not a finite number: " + quoted(text));
    case NumberStatus::NotANumber:
      break;
  }
  if (trimBlanks(text).empty()) fail(where, fieldName(field) + ": empty");
  fail(where, fieldName(field) + ": not a number: " + quoted(text));
}

std::vector<double> numberList(std::string_view text, char sep, const std::string &where,
                               const std::string &field) {
  std::vector<double> out;
  if (trimBlanks(text).empty()) fail(where, fieldName(field) + ": empty");
  if (sep == ' ') {
    text = trimBlanks(text);
    while (!text.empty()) {
      const size_t end = std::min(text.find_first_of(" \t"), text.size());
      out.push_back(numberField(text.substr(0, end), where, field));
      text = trimBlanks(text.substr(end));
    }
    return out;
  }
  for (;;) {
    const size_t end = text.find(sep);
    out.push_back(numberField(text.substr(0, end), where, field));
    if (end == std::string_view::npos) return out;
    text.remove_prefix(end + 1);
  }
}

// ------------------------------------------------------------ trees

TreeSource TreeSource::options() {
  TreeSource s;
  s.options_ = true;
  return s;
}

TreeSource TreeSource::fields(const std::string &at) { return fields(at, at, at); }

TreeSource TreeSource::fields(const std::string &dbhAt, const std::string &heightAt,
                              const std::string &modelAt) {
  TreeSource s;
  s.dbhAt_ = dbhAt;
  s.heightAt_ = heightAt;
  s.modelAt_ = modelAt;
  return s;
}

void TreeSource::reject(Value value, const std::string &what) const {
  struct Names {
    const char *option, *field;
  };
  static constexpr Names kNames[] = {{"option --dbh", "field 'dbh'"},
                                     {"option --height", "field 'height'"},
                                     {"option --coefs", "field 'coefs'"},
                                     {"options --coefs and --exps", "fields 'coefs' and 'exps'"}};
  const Names &n = kNames[static_cast<int>(value)];
  if (options_) fail(n.option, what);
  const std::string &place = value == Value::Dbh      ? dbhAt_
                             : value == Value::Height ? heightAt_
                                                      : modelAt_;
  fail(place, std::string(n.field) + ": " + what);
}

void checkDimensions(double dbh, double height, const TreeSource &source) {
  if (!(dbh > 0)) source.reject(TreeSource::Value::Dbh, "must be greater than 0");
  if (!(height > 0)) source.reject(TreeSource::Value::Height, "must be greater than 0");
}

void checkModel(const Model &m, const TreeSource &source) {
  if (m.coefs.empty()) source.reject(TreeSource::Value::Coefs, "needs at least one coefficient");
  if (m.coefs.size() != m.exps.size())
    source.reject(TreeSource::Value::CoefsAndExps,
                  std::to_string(m.coefs.size()) + " coefficients but " +
                      std::to_string(m.exps.size()) + " exponents");
  if (m.coefs.size() > 32768) source.reject(TreeSource::Value::Coefs, "more than 32767 terms");
}

// ------------------------------------------------------------ products

const std::vector<ProductField> &productFields() {
  static const std::vector<ProductField> fields = {
      {"minTopDiam", &ProductSpec::minTopDiam, nullptr},
      {"maxTopDiam", &ProductSpec::maxTopDiam, nullptr},
      {"minBaseDiam", &ProductSpec::minBaseDiam, nullptr},
      {"maxBaseDiam", &ProductSpec::maxBaseDiam, nullptr},
      {"minLength", &ProductSpec::minLength, nullptr},
      {"maxLength", &ProductSpec::maxLength, nullptr},
      {"unitPrice", &ProductSpec::unitPrice, nullptr},
      {"priceBasis", nullptr, &ProductSpec::priceBasis},
      {"logPosition", nullptr, &ProductSpec::logPosition},
      {"heightRule", nullptr, &ProductSpec::heightRule},
      {"lossFraction", &ProductSpec::lossFraction, nullptr},
      {"trimLength", &ProductSpec::trimLength, nullptr},
  };
  return fields;
}

void setProductField(ProductSpec &record, const ProductField &field, double value,
                     const std::string &where, const std::string &shown) {
  if (field.real) {
    record.*field.real = value;
    return;
  }
  if (!(value == std::floor(value) && value >= -32768 && value <= 32767))
    fail(where, fieldName(field.name) + ": not a whole number in -32768..32767: " + shown);
  record.*field.whole = static_cast<int16_t>(value);
}

void checkProductCount(size_t count, const std::string &path) {
  if (count == 0) fail(path, "no products");
  if (count > 32767) fail(path, "more than 32767 products");
}

std::vector<Product> readProducts(const std::string &path) {
  if (endsWith(path, ".json")) return readProductsJson(path);
  if (endsWith(path, ".csv")) return readProductsCsv(path);
  fail(path, "product table must be a .json or .csv file");
}

// ------------------------------------------------------------ files

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(path, std::string("cannot read: ") + std::strerror(errno));
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) fail(path, "cannot read");
  return s.str();
}

}  // namespace xtk
