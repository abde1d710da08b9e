#include "batch_models.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <tuple>

#include "format.h"

namespace xtk {

namespace {

// Orders models given in the inventory by their numbers.
struct SameNumbers {
  bool operator()(const Model *a, const Model *b) const {
    return std::tie(a->coefs, a->exps) < std::tie(b->coefs, b->exps);
  }
};

}  // namespace

std::vector<ModelUse> checkModels(const std::vector<InventoryTree> &trees,
                                  const std::map<std::string, Model> &models, size_t threads) {
  std::map<const Model *, const std::string *> names;
  for (const auto &[name, model] : models) names.emplace(&model, &name);
  std::vector<ModelUse> uses;
  std::map<const Model *, size_t> named;
  std::map<const Model *, size_t, SameNumbers> given;
  for (const InventoryTree &t : trees) {
    const auto name = names.find(t.model);
    const bool isNamed = name != names.end();
    const auto [it, fresh] =
        isNamed ? named.emplace(t.model, uses.size()) : given.emplace(t.model, uses.size());
    if (fresh) uses.push_back({&t, isNamed ? name->second : nullptr, 0, {}});
    ++uses[it->second].trees;
  }
  // A check samples the profile thousands of times: an inventory of distinct
  // models shares them out over the threads of the run.
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next++) < uses.size();) {
      const InventoryTree &t = *uses[i].first;
      uses[i].findings = checkTaperModel(t.dbh, t.height, *t.model);
    }
  };
  std::vector<std::thread> pool;
  for (size_t i = 1; i < std::min(threads, uses.size()); ++i) pool.emplace_back(work);
  work();
  for (auto &t : pool) t.join();
  return uses;
}

std::string modelPlace(const ModelUse &use, const std::string &inventoryPath,
                       const std::string &modelsPath) {
  const std::string tree = "tree \"" + use.first->name + "\"";
  const std::string others = std::to_string(use.trees - 1);
  if (use.name)
    return modelsPath + ": model \"" + *use.name + "\" (" + tree +
           (use.trees > 1 ? " and " + others + " more)" : ")");
  return at(inventoryPath, use.first->line) + ": " + tree +
         (use.trees > 1 ? " (and " + others + " more with the same coefficients)" : "");
}

}  // namespace xtk
