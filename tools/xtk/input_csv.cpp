// The CSV reader: lines split into cells, and product tables.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <set>

#include "input.h"

namespace xtk {

CsvReader::CsvReader(const std::string &path) : path_(path), in_(path, std::ios::binary) {
  if (!in_) fail(path, std::string("cannot read: ") + std::strerror(errno));
}

bool CsvReader::next(std::vector<std::string> &cells) {
  while (std::getline(in_, buffer_)) {
    ++line_;
    if (!buffer_.empty() && buffer_.back() == '\r') buffer_.pop_back();
    if (line_ == 1 && buffer_.rfind("\xEF\xBB\xBF", 0) == 0) buffer_.erase(0, 3);
    if (trimBlanks(buffer_).empty()) continue;
    if (const auto error = splitCsvLine(buffer_, cells)) fail(at(path_, line_), *error);
    return true;
  }
  if (in_.bad()) fail(path_, "cannot read");
  return false;
}

void forEachCsvRow(
    CsvReader &csv, size_t columns, int &skipped,
    const std::function<void(const std::vector<std::string> &, int, const std::string &)> &row) {
  std::vector<std::string> cells;
  for (;;) {
    // A malformed line is reported and skipped like a bad field.
    try {
      if (!csv.next(cells)) break;
    } catch (const InputError &e) {
      std::cerr << e.what() << "\n";
      ++skipped;
      continue;
    }
    const int line = csv.line();
    const std::string where = at(csv.path(), line);
    try {
      if (cells.size() != columns)
        fail(where, "expected " + std::to_string(columns) + " cells, found " +
                        std::to_string(cells.size()));
      row(cells, line, where);
    } catch (const InputError &e) {
      std::cerr << e.what() << "\n";
      ++skipped;
    }
  }
}

std::vector<std::string> CsvReader::header() {
  std::vector<std::string> head;
  if (!next(head)) fail(path_, "empty file: expected a header row");
  std::set<std::string> seen;
  for (auto &name : head) {
    name = std::string(trimBlanks(name));
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

std::vector<Product> readProductsCsv(const std::string &path) {
  CsvReader csv(path);
  const std::vector<std::string> head = csv.header();
  std::map<std::string, size_t> column;
  for (size_t i = 0; i < head.size(); ++i) column[head[i]] = i;
  const auto &fields = productFields();
  for (const auto &name : head)
    if (name != "name" && std::none_of(fields.begin(), fields.end(),
                                       [&](const ProductField &pf) { return name == pf.name; }))
      fail(at(path, 1), "unknown column '" + name + "'");
  for (const auto &pf : fields)
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
    if (column.count("name") && !trimBlanks(cells[column["name"]]).empty())
      prod.name = std::string(trimBlanks(cells[column["name"]]));
    for (const auto &pf : fields) {
      const std::string &cell = cells[column[pf.name]];
      setProductField(prod.record, pf, numberField(cell, where, pf.name), where,
                      std::string(trimBlanks(cell)));
    }
    products.push_back(prod);
    if (products.size() > 32767) break;
  }
  checkProductCount(products.size(), path);
  return products;
}

}  // namespace xtk
