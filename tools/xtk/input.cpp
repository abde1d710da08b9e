#include "input.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace xtk {

using nlohmann::json;

void fail(const std::string &where, const std::string &what) {
  throw InputError(where + ": " + what);
}

std::string at(const std::string &file, int line) { return file + ":" + std::to_string(line); }

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

enum class NumberStatus { Ok, NotANumber, NotFinite };

NumberStatus parseNumber(std::string_view text, double &out) {
  text = trim(text);
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

std::string fieldName(const std::string &field) { return "field '" + field + "'"; }

// Line numbers of the values of a JSON text, by path ("/2/minLength"), and the
// first key that appears twice in one object. The text is already known to be
// valid JSON; structures deeper than a few levels are not mapped.
class JsonLines {
 public:
  explicit JsonLines(std::string_view text) {
    struct Frame {
      bool object;
      std::string path;
      int index = 0;
      std::set<std::string> keys;
    };
    std::vector<Frame> stack;
    std::string next;  // path of the next value
    bool expectKey = false;
    int line = 1;
    for (size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '\n') {
        ++line;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == ':') {
      } else if (c == '{' || c == '[') {
        lines_.emplace(next, line);
        if (stack.size() > 8) return;
        stack.push_back({c == '{', next, 0, {}});
        expectKey = (c == '{');
        if (c == '[') next = stack.back().path + "/0";
      } else if (c == '}' || c == ']') {
        stack.pop_back();
        expectKey = false;
      } else if (c == ',') {
        if (stack.empty()) return;
        Frame &f = stack.back();
        if (f.object)
          expectKey = true;
        else
          next = f.path + "/" + std::to_string(++f.index);
      } else if (c == '"') {
        std::string s;
        size_t j = i + 1;
        for (; j < text.size() && text[j] != '"'; ++j) {
          if (text[j] == '\\' && j + 1 < text.size()) ++j;
          s += text[j];
        }
        if (expectKey && !stack.empty()) {
          Frame &f = stack.back();
          next = f.path + "/" + s;
          if (!f.keys.insert(s).second && !duplicate) duplicate = {s, line};
          expectKey = false;
        }
        lines_.emplace(next, line);
        i = j;
      } else {
        lines_.emplace(next, line);
        while (i + 1 < text.size() && !std::strchr(",]} \t\r\n", text[i + 1])) ++i;
      }
    }
  }

  // The line of a path, else of its nearest mapped parent, else 1.
  int line(std::string path) const {
    for (;;) {
      const auto it = lines_.find(path);
      if (it != lines_.end()) return it->second;
      const auto slash = path.rfind('/');
      if (slash == std::string::npos) return 1;
      path.resize(slash);
    }
  }

  std::optional<std::pair<std::string, int>> duplicate;

 private:
  std::map<std::string, int> lines_;
};

struct JsonFile {
  std::string path;
  json doc;
  JsonLines lines;

  std::string where(const std::string &jsonPath) const { return at(path, lines.line(jsonPath)); }
};

JsonFile loadJson(const std::string &path) {
  const std::string text = readFile(path);
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::parse_error &e) {
    const size_t end = std::min<size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
    const int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + end, '\n'));
    std::string what = e.what();
    // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..."
    const auto colon = what.find(": ");
    if (colon != std::string::npos) what = what.substr(colon + 2);
    fail(at(path, line), "not valid JSON: " + what);
  } catch (const json::exception &e) {
    // A number too large for a double: "... number overflow parsing '1e999'".
    std::string what = e.what();
    const auto q = what.find('\'');
    const std::string token = q == std::string::npos ? "" : what.substr(q + 1, what.size() - q - 2);
    const auto pos = token.empty() ? std::string::npos : text.find(token);
    const int line =
        1 + (pos == std::string::npos
                 ? 0
                 : static_cast<int>(std::count(text.begin(), text.begin() + pos, '\n')));
    fail(at(path, line), "not a finite number: " + (token.empty() ? what : token));
  }
  JsonFile f{path, std::move(doc), JsonLines(text)};
  if (f.lines.duplicate)
    fail(at(path, f.lines.duplicate->second),
         "field '" + f.lines.duplicate->first + "' given twice");
  return f;
}

double jsonNumber(const JsonFile &f, const json &v, const std::string &path,
                  const std::string &field) {
  if (!v.is_number())
    fail(f.where(path), fieldName(field) + ": expected a number, got " + v.type_name());
  const double d = v.get<double>();
  if (!std::isfinite(d)) fail(f.where(path), fieldName(field) + ": not a finite number");
  return d;
}

std::vector<double> jsonNumbers(const JsonFile &f, const json &v, const std::string &path,
                                const std::string &field) {
  if (!v.is_array())
    fail(f.where(path), fieldName(field) + ": expected an array of numbers, got " + v.type_name());
  std::vector<double> out;
  for (size_t i = 0; i < v.size(); ++i)
    out.push_back(
        jsonNumber(f, v[i], path + "/" + std::to_string(i), field + "[" + std::to_string(i) + "]"));
  return out;
}

void requireObject(const JsonFile &f, const json &v, const std::string &path,
                   const std::string &what) {
  if (!v.is_object()) fail(f.where(path), "expected " + what + ", got " + v.type_name());
}

// Every key of `obj` must be one of `allowed`, and every one of `required` present.
void checkKeys(const JsonFile &f, const json &obj, const std::string &path,
               const std::vector<std::string> &allowed, const std::vector<std::string> &required) {
  for (const auto &[key, value] : obj.items())
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end())
      fail(f.where(path + "/" + key), "unknown field '" + key + "'");
  for (const auto &key : required)
    if (!obj.contains(key)) fail(f.where(path), "missing field '" + key + "'");
}

Model jsonModel(const JsonFile &f, const json &obj, const std::string &path) {
  checkKeys(f, obj, path, {"coefs", "exps"}, {"coefs", "exps"});
  Model m{jsonNumbers(f, obj["coefs"], path + "/coefs", "coefs"),
          jsonNumbers(f, obj["exps"], path + "/exps", "exps")};
  checkModel(m, f.where(path + "/exps"));
  return m;
}

int16_t wholeNumber(double v, const std::string &where, const std::string &field,
                    const std::string &shown) {
  if (!(v == std::floor(v) && v >= -32768 && v <= 32767))
    fail(where, fieldName(field) + ": not a whole number in -32768..32767: " + shown);
  return static_cast<int16_t>(v);
}

void checkProductCount(size_t n, const std::string &path) {
  if (n == 0) fail(path, "no products");
  if (n > 32767) fail(path, "more than 32767 products");
}

std::vector<Product> readProductsJson(const std::string &path) {
  const JsonFile f = loadJson(path);
  if (!f.doc.is_array())
    fail(f.where(""), "expected an array of products, got " + std::string(f.doc.type_name()));
  checkProductCount(f.doc.size(), path);
  std::vector<std::string> allowed{"name"}, required;
  for (const auto &pf : productFields()) {
    allowed.push_back(pf.name);
    required.push_back(pf.name);
  }
  std::vector<Product> products;
  for (size_t i = 0; i < f.doc.size(); ++i) {
    const std::string p = "/" + std::to_string(i);
    const json &obj = f.doc[i];
    requireObject(f, obj, p, "a product object");
    checkKeys(f, obj, p, allowed, required);
    Product prod;
    prod.name = "product " + std::to_string(i + 1);
    if (obj.contains("name")) {
      if (!obj["name"].is_string())
        fail(f.where(p + "/name"),
             "field 'name': expected a string, got " + std::string(obj["name"].type_name()));
      prod.name = obj["name"].get<std::string>();
    }
    for (const auto &pf : productFields()) {
      const double v = jsonNumber(f, obj[pf.name], p + "/" + pf.name, pf.name);
      if (pf.real) {
        prod.record.*pf.real = v;
      } else {
        std::ostringstream shown;
        shown << obj[pf.name].dump();
        prod.record.*pf.whole = wholeNumber(v, f.where(p + "/" + pf.name), pf.name, shown.str());
      }
    }
    products.push_back(prod);
  }
  return products;
}

std::vector<Product> readProductsCsv(const std::string &path) {
  CsvReader csv(path);
  const std::vector<std::string> head = csv.header();
  std::map<std::string, size_t> column;
  for (size_t i = 0; i < head.size(); ++i) column[head[i]] = i;
  for (const auto &name : head) {
    const auto &fields = productFields();
    if (name != "name" && std::none_of(fields.begin(), fields.end(),
                                       [&](const ProductField &pf) { return name == pf.name; }))
      fail(at(path, 1), "unknown column '" + name + "'");
  }
  for (const auto &pf : productFields())
    if (!column.count(pf.name)) fail(at(path, 1), "missing column '" + std::string(pf.name) + "'");
  std::vector<Product> products;
  std::vector<std::string> cells;
  while (csv.next(cells)) {
    const std::string where = at(path, csv.line());
    if (cells.size() != head.size())
      fail(where, "expected " + std::to_string(head.size()) + " cells, found " +
                      std::to_string(cells.size()));
    Product prod;
    prod.name = "product " + std::to_string(products.size() + 1);
    if (column.count("name") && !trim(cells[column["name"]]).empty())
      prod.name = std::string(trim(cells[column["name"]]));
    for (const auto &pf : productFields()) {
      const std::string &cell = cells[column[pf.name]];
      const double v = numberField(cell, where, pf.name);
      if (pf.real)
        prod.record.*pf.real = v;
      else
        prod.record.*pf.whole = wholeNumber(v, where, pf.name, std::string(trim(cell)));
    }
    products.push_back(prod);
    if (products.size() > 32767) break;
  }
  checkProductCount(products.size(), path);
  return products;
}

bool endsWith(const std::string &s, const std::string &suffix) {
  if (s.size() < suffix.size()) return false;
  return std::equal(suffix.rbegin(), suffix.rend(), s.rbegin(),
                    [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

}  // namespace

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
  if (trim(text).empty()) fail(where, fieldName(field) + ": empty");
  fail(where, fieldName(field) + ": not a number: " + quoted(text));
}

std::vector<double> numberList(std::string_view text, char sep, const std::string &where,
                               const std::string &field) {
  std::vector<double> out;
  if (trim(text).empty()) fail(where, fieldName(field) + ": empty");
  if (sep == ' ') {
    text = trim(text);
    while (!text.empty()) {
      const size_t end = std::min(text.find_first_of(" \t"), text.size());
      out.push_back(numberField(text.substr(0, end), where, field));
      text = trim(text.substr(end));
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

void checkModel(const Model &m, const std::string &where) {
  if (m.coefs.empty()) fail(where, "field 'coefs': needs at least one coefficient");
  if (m.coefs.size() != m.exps.size())
    fail(where, "fields 'coefs' and 'exps': " + std::to_string(m.coefs.size()) +
                    " coefficients but " + std::to_string(m.exps.size()) + " exponents");
  if (m.coefs.size() > 32768) fail(where, "field 'coefs': more than 32767 terms");
}

void checkTree(const Tree &t, const std::string &where) {
  if (!(t.dbh > 0)) fail(where, "field 'dbh': must be greater than 0");
  if (!(t.height > 0)) fail(where, "field 'height': must be greater than 0");
}

Tree readTreeJson(const std::string &path) {
  const JsonFile f = loadJson(path);
  requireObject(f, f.doc, "", "a tree object");
  checkKeys(f, f.doc, "", {"dbh", "height", "coefs", "exps"}, {"dbh", "height", "coefs", "exps"});
  Tree t;
  t.dbh = jsonNumber(f, f.doc["dbh"], "/dbh", "dbh");
  t.height = jsonNumber(f, f.doc["height"], "/height", "height");
  if (!(t.dbh > 0)) fail(f.where("/dbh"), "field 'dbh': must be greater than 0");
  if (!(t.height > 0)) fail(f.where("/height"), "field 'height': must be greater than 0");
  t.model.coefs = jsonNumbers(f, f.doc["coefs"], "/coefs", "coefs");
  t.model.exps = jsonNumbers(f, f.doc["exps"], "/exps", "exps");
  checkModel(t.model, f.where("/exps"));
  return t;
}

std::map<std::string, Model> readModelsJson(const std::string &path) {
  const JsonFile f = loadJson(path);
  requireObject(f, f.doc, "", "an object of models by name");
  std::map<std::string, Model> models;
  for (const auto &[name, value] : f.doc.items()) {
    requireObject(f, value, "/" + name, "a model object");
    models[name] = jsonModel(f, value, "/" + name);
  }
  if (models.empty()) fail(at(path, 1), "no models");
  return models;
}

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

std::vector<Product> readProducts(const std::string &path) {
  if (endsWith(path, ".json")) return readProductsJson(path);
  if (endsWith(path, ".csv")) return readProductsCsv(path);
  fail(path, "product table must be a .json or .csv file");
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(path, std::string("cannot read: ") + std::strerror(errno));
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) fail(path, "cannot read");
  return s.str();
}

CsvReader::CsvReader(const std::string &path) : path_(path), in_(path, std::ios::binary) {
  if (!in_) fail(path, std::string("cannot read: ") + std::strerror(errno));
}

bool CsvReader::next(std::vector<std::string> &cells) {
  while (std::getline(in_, buffer_)) {
    ++line_;
    if (!buffer_.empty() && buffer_.back() == '\r') buffer_.pop_back();
    if (line_ == 1 && buffer_.rfind("\xEF\xBB\xBF", 0) == 0) buffer_.erase(0, 3);
    if (trim(buffer_).empty()) continue;
    if (const auto error = splitCsvLine(buffer_, cells)) fail(at(path_, line_), *error);
    return true;
  }
  if (in_.bad()) fail(path_, "cannot read");
  return false;
}

std::vector<std::string> CsvReader::header() {
  std::vector<std::string> head;
  if (!next(head)) fail(path_, "empty file: expected a header row");
  std::set<std::string> seen;
  for (auto &name : head) {
    name = std::string(trim(name));
    if (name.empty()) fail(at(path_, line_), "empty column name");
    if (!seen.insert(name).second) fail(at(path_, line_), "column '" + name + "' given twice");
  }
  return head;
}

std::optional<std::string> splitCsvLine(std::string_view line, std::vector<std::string> &cells) {
  cells.clear();
  size_t i = 0;
  for (;;) {
    std::string cell;
    // A quoted cell may have blanks around its quotes.
    size_t j = i;
    while (j < line.size() && (line[j] == ' ' || line[j] == '\t')) ++j;
    if (j < line.size() && line[j] == '"') {
      for (i = j + 1;; ++i) {
        if (i >= line.size())
          return "unterminated quote in cell " + std::to_string(cells.size() + 1);
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            cell += '"';
            ++i;
          } else {
            break;
          }
        } else {
          cell += line[i];
        }
      }
      ++i;
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i < line.size() && line[i] != ',')
        return "text after the closing quote in cell " + std::to_string(cells.size() + 1);
    } else {
      const size_t end = std::min(line.find(',', i), line.size());
      cell.assign(line.substr(i, end - i));
      if (cell.find('"') != std::string::npos)
        return "stray quote in cell " + std::to_string(cells.size() + 1);
      i = end;
    }
    cells.push_back(std::move(cell));
    if (i >= line.size()) return std::nullopt;
    ++i;  // the comma
  }
}

std::string csvCell(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string q = "\"";
  for (char c : text) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

}  // namespace xtk
