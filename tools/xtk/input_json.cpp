// The JSON reader: trees, models and product tables, every fault located by
// file, line and field.

// GCC 12 at -O3 (the Release build) warns that the memcpy it inlines from
// std::string's insert, for "/" + std::to_string(i), may overlap, with sizes
// near 2^63 that no string can have: a false positive of GCC 12's -Wrestrict on
// std::string concatenation. The warning is silenced for this file and that
// compiler only.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <set>

#include "input.h"

namespace xtk {

using nlohmann::json;

namespace {

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
  // The place of the member `key` of the object at `jsonPath`.
  std::string where(const std::string &jsonPath, const std::string &key) const {
    return where(jsonPath + "/" + key);
  }
};

JsonFile loadJson(const std::string &path) {
  const std::string text = readFile(path);
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::parse_error &e) {
    const size_t end = std::min<size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
    const auto before = text.begin() + static_cast<std::ptrdiff_t>(end);
    const int line = 1 + static_cast<int>(std::count(text.begin(), before, '\n'));
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
                 : static_cast<int>(std::count(
                       text.begin(), text.begin() + static_cast<std::ptrdiff_t>(pos), '\n')));
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
      fail(f.where(path, key), "unknown field '" + key + "'");
  for (const auto &key : required)
    if (!obj.contains(key)) fail(f.where(path), "missing field '" + key + "'");
}

Model jsonModel(const JsonFile &f, const json &obj, const std::string &path) {
  checkKeys(f, obj, path, {"coefs", "exps"}, {"coefs", "exps"});
  Model m{jsonNumbers(f, obj["coefs"], path + "/coefs", "coefs"),
          jsonNumbers(f, obj["exps"], path + "/exps", "exps")};
  checkModel(m, TreeSource::fields(f.where(path + "/exps")));
  return m;
}

}  // namespace

Tree readTreeJson(const std::string &path) {
  const JsonFile f = loadJson(path);
  requireObject(f, f.doc, "", "a tree object");
  checkKeys(f, f.doc, "", {"dbh", "height", "coefs", "exps"}, {"dbh", "height", "coefs", "exps"});
  const TreeSource source =
      TreeSource::fields(f.where("/dbh"), f.where("/height"), f.where("/exps"));
  Tree t;
  t.dbh = jsonNumber(f, f.doc["dbh"], "/dbh", "dbh");
  t.height = jsonNumber(f, f.doc["height"], "/height", "height");
  checkDimensions(t.dbh, t.height, source);
  t.model.coefs = jsonNumbers(f, f.doc["coefs"], "/coefs", "coefs");
  t.model.exps = jsonNumbers(f, f.doc["exps"], "/exps", "exps");
  checkModel(t.model, source);
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
      const json &value = obj[pf.name];
      const std::string fieldPath = p + "/" + pf.name;
      setProductField(prod.record, pf, jsonNumber(f, value, fieldPath, pf.name), f.where(fieldPath),
                      pf.real ? std::string() : value.dump());
    }
    products.push_back(prod);
  }
  return products;
}

}  // namespace xtk
