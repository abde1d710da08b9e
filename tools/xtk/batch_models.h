// The trees of an inventory, column by column, and the taper models they
// use, checked once each.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "input.h"

namespace xtk {

// An inventory as the library's inventory call takes it: one entry per tree
// in each column, every tree naming its model by its index in `models`. A
// model shared by many trees (a name of the models file, or the same
// coefficients given inline) is held once. About 32 bytes a tree besides
// its id, so a million trees fit in a few tens of megabytes.
struct Inventory {
  std::vector<double> dbh, height;
  std::vector<std::int32_t> model;
  std::vector<int> line;                        // where the tree was read
  std::string ids;                              // the ids as read, one after another
  std::vector<std::size_t> idEnd;               // where each tree's id ends in `ids`
  std::vector<Model> models;                    // in the order of their first trees
  std::vector<const std::string *> modelNames;  // the name in the models file; null inline

  std::size_t size() const { return dbh.size(); }
  std::string_view id(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : idEnd[i - 1];
    return std::string_view(ids).substr(begin, idEnd[i] - begin);
  }
};

// A taper model of the inventory and the trees that use it.
struct ModelUse {
  std::size_t firstTree = 0;
  const std::string *name = nullptr;  // a model of the models file; null for coefficients
  std::size_t trees = 0;
  ModelFindings findings;
};

// Each model of the inventory, checked once with the dimensions of its first
// tree, in the order of their first trees; the checks are shared out over
// `threads` threads.
std::vector<ModelUse> checkModels(const Inventory &inventory, std::size_t threads);

// Where a model is, for its warning or error.
std::string modelPlace(const ModelUse &use, const Inventory &inventory,
                       const std::string &inventoryPath, const std::string &modelsPath);

}  // namespace xtk
