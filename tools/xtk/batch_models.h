// The trees of an inventory and the taper models they use, checked once each.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "check.h"
#include "input.h"

namespace xtk {

// One tree of the inventory, its id already escaped for CSV.
struct InventoryTree {
  std::string id;
  std::string name;  // the id as read, for messages
  int line = 0;
  double dbh = 0, height = 0;
  const Model *model = nullptr;  // a named model, or own
  Model own;
};

// A taper model of the inventory and the trees that use it.
struct ModelUse {
  const InventoryTree *first = nullptr;
  const std::string *name = nullptr;  // a model of the models file; null for coefficients
  size_t trees = 0;
  ModelFindings findings;
};

// Each model the trees use, checked once with the dimensions of its first
// tree: a named model once per name, coefficients given in the inventory once
// per distinct set of them. In the order of their first trees; the checks are
// shared out over `threads` threads.
std::vector<ModelUse> checkModels(const std::vector<InventoryTree> &trees,
                                  const std::map<std::string, Model> &models, size_t threads);

// Where a model is, for its warning or error.
std::string modelPlace(const ModelUse &use, const std::string &inventoryPath,
                       const std::string &modelsPath);

}  // namespace xtk
