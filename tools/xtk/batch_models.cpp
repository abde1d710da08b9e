#include "batch_models.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "format.h"

namespace xtk {

std::vector<ModelUse> checkModels(const Inventory &inventory, std::size_t threads) {
  std::vector<ModelUse> uses(inventory.models.size());
  for (std::size_t i = inventory.size(); i-- > 0;) {
    ModelUse &use = uses[static_cast<std::size_t>(inventory.model[i])];
    use.firstTree = i;
    ++use.trees;
  }
  for (std::size_t m = 0; m < uses.size(); ++m) uses[m].name = inventory.modelNames[m];
  // A check samples the profile thousands of times: an inventory of distinct
  // models shares them out over the threads of the run.
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next++) < uses.size();) {
      const std::size_t t = uses[i].firstTree;
      uses[i].findings =
          checkTaperModel(inventory.dbh[t], inventory.height[t], inventory.models[i]);
    }
  };
  std::vector<std::thread> pool;
  for (std::size_t i = 1; i < std::min(threads, uses.size()); ++i) pool.emplace_back(work);
  work();
  for (auto &t : pool) t.join();
  return uses;
}

std::string modelPlace(const ModelUse &use, const Inventory &inventory,
                       const std::string &inventoryPath, const std::string &modelsPath) {
  const std::string tree = "tree \"" + std::string(inventory.id(use.firstTree)) + "\"";
  const std::string others = std::to_string(use.trees - 1);
  if (use.name)
    return modelsPath + ": model \"" + *use.name + "\" (" + tree +
           (use.trees > 1 ? " and " + others + " more)" : ")");
  return at(inventoryPath, inventory.line[use.firstTree]) + ": " + tree +
         (use.trees > 1 ? " (and " + others + " more with the same coefficients)" : "");
}

}  // namespace xtk
