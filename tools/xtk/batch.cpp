// xtk batch: bucks every tree of an inventory on N threads and writes the
// logs and totals CSV files, rows in input order whatever N.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>
#include <tuple>

#include "batch_models.h"
#include "check.h"
#include "commands.h"
#include "format.h"
#include "options.h"
#include "report.h"
#include "words.h"

namespace xtk {

namespace {

struct BatchCommand {
  std::string inventory, products, models, logs, totals, jobsRaw = "1";
  BuckOptions buck;
};

// ------------------------------------------------------------ inventory

std::string trimmed(const std::string &s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Ids seen so far, each held as its tree's index: an open-addressing table
// over the inventory's own id text, so that a million ids cost a few
// megabytes rather than a string each.
class IdSet {
 public:
  explicit IdSet(const Inventory &inventory) : inventory_(inventory) {}
  // The index of an earlier tree with tree i's id, or -1 after adding it.
  long addOrFind(std::size_t i) {
    if (2 * (used_ + 1) > slots_.size()) grow();
    const std::string_view id = inventory_.id(i);
    for (std::size_t s = home(id);; s = (s + 1) & (slots_.size() - 1)) {
      if (slots_[s] == 0) {
        slots_[s] = static_cast<std::uint32_t>(i + 1);
        ++used_;
        return -1;
      }
      if (inventory_.id(slots_[s] - 1) == id) return static_cast<long>(slots_[s] - 1);
    }
  }

 private:
  std::size_t home(std::string_view id) const {
    return std::hash<std::string_view>()(id) & (slots_.size() - 1);
  }
  void grow() {
    std::vector<std::uint32_t> old(slots_.empty() ? 1024 : 2 * slots_.size(), 0);
    old.swap(slots_);
    for (std::uint32_t tree : old) {
      if (tree == 0) continue;
      std::size_t s = home(inventory_.id(tree - 1));
      while (slots_[s] != 0) s = (s + 1) & (slots_.size() - 1);
      slots_[s] = tree;
    }
  }
  const Inventory &inventory_;
  std::vector<std::uint32_t> slots_;
  std::size_t used_ = 0;
};

// Orders models given in the inventory by their numbers.
struct SameNumbers {
  bool operator()(const Model &a, const Model &b) const {
    return std::tie(a.coefs, a.exps) < std::tie(b.coefs, b.exps);
  }
};

Inventory readInventory(const std::string &path, const std::map<std::string, Model> *models,
                        const std::string &modelsPath, int &skipped) {
  CsvReader csv(path);
  const std::vector<std::string> head = csv.header();
  std::map<std::string, size_t> col;
  for (size_t i = 0; i < head.size(); ++i) col[head[i]] = i;
  for (const auto &name : head)
    if (name != "id" && name != "dbh" && name != "height" && name != "model" && name != "coefs" &&
        name != "exps")
      fail(at(path, 1), "unknown column '" + name + "'");
  for (const char *name : {"id", "dbh", "height"})
    if (!col.count(name)) fail(at(path, 1), "missing column '" + std::string(name) + "'");
  const bool hasModel = col.count("model") > 0;
  const bool hasInline = col.count("coefs") && col.count("exps");
  if (col.count("coefs") != col.count("exps"))
    fail(at(path, 1),
         std::string("missing column '") + (col.count("coefs") ? "exps" : "coefs") + "'");
  if (!hasModel && !hasInline)
    fail(at(path, 1), "missing column 'model' (or the columns 'coefs' and 'exps')");
  if (hasModel && !hasInline && !models)
    fail(at(path, 1), "column 'model' needs the models file (--models FILE)");

  Inventory inv;
  IdSet seen(inv);
  std::map<std::string, std::int32_t> named;           // name -> model index
  std::map<Model, std::int32_t, SameNumbers> inlined;  // coefficients -> model index
  auto addModel = [&inv](const Model &m, const std::string *name) {
    if (inv.models.size() >= static_cast<size_t>(INT32_MAX)) fail("inventory", "too many models");
    inv.models.push_back(m);
    inv.modelNames.push_back(name);
    return static_cast<std::int32_t>(inv.models.size() - 1);
  };
  forEachCsvRow(
      csv, head.size(), skipped,
      [&](const std::vector<std::string> &cells, int line, const std::string &where) {
        const std::string id = trimmed(cells[col["id"]]);
        if (id.empty()) fail(where, "field 'id': empty");
        const double dbh = numberField(cells[col["dbh"]], where, "dbh");
        const double height = numberField(cells[col["height"]], where, "height");
        const std::string modelName = hasModel ? trimmed(cells[col["model"]]) : std::string();
        const bool inlineGiven =
            hasInline && (cells[col["coefs"]].find_first_not_of(" \t") != std::string::npos ||
                          cells[col["exps"]].find_first_not_of(" \t") != std::string::npos);
        const std::map<std::string, Model>::const_iterator *found = nullptr;
        std::map<std::string, Model>::const_iterator byName;
        Model own;
        if (!modelName.empty()) {
          if (inlineGiven) fail(where, "field 'model': given together with 'coefs'/'exps'");
          if (!models) fail(where, "field 'model': \"" + modelName + "\" needs --models FILE");
          byName = models->find(modelName);
          if (byName == models->end())
            fail(where, "field 'model': \"" + modelName + "\" is not in " + modelsPath);
          found = &byName;
        } else {
          if (!hasInline) fail(where, "field 'model': empty");
          own.coefs = numberList(cells[col["coefs"]], ' ', where, "coefs");
          own.exps = numberList(cells[col["exps"]], ' ', where, "exps");
          checkModel(own, TreeSource::fields(where));
        }
        checkDimensions(dbh, height, TreeSource::fields(where));
        // The tree's id goes in first, to be checked against the others';
        // a tree refused after that takes it out again.
        inv.ids += id;
        inv.idEnd.push_back(inv.ids.size());
        const long earlier = seen.addOrFind(inv.idEnd.size() - 1);
        if (earlier >= 0) {
          inv.idEnd.pop_back();
          inv.ids.resize(inv.idEnd.empty() ? 0 : inv.idEnd.back());
          fail(where, "field 'id': \"" + id + "\" already used on line " +
                          std::to_string(inv.line[static_cast<size_t>(earlier)]));
        }
        std::int32_t index;
        if (found != nullptr) {
          const auto [it, fresh] = named.emplace((*found)->first, 0);
          if (fresh) it->second = addModel((*found)->second, &(*found)->first);
          index = it->second;
        } else {
          const auto it = inlined.find(own);
          index = it != inlined.end() ? it->second : addModel(own, nullptr);
          if (it == inlined.end()) inlined.emplace(std::move(own), index);
        }
        inv.dbh.push_back(dbh);
        inv.height.push_back(height);
        inv.model.push_back(index);
        inv.line.push_back(line);
      });
  if (inv.size() >= UINT32_MAX) fail(path, "more trees than one run can take");
  return inv;
}

// ------------------------------------------------------------ output files

// The temporary files of the run, removed if the run is interrupted.
char gTempNames[2][4096];
volatile std::sig_atomic_t gTempCount = 0;

// Nothing is left to report to in a signal handler: a file that cannot be
// removed stays, and the signal ends the process as it would have.
extern "C" void removeTempsAndDie(int sig) {
  for (int i = 0; i < gTempCount; ++i) (void)::unlink(gTempNames[i]);
  (void)std::signal(sig, SIG_DFL);
  (void)std::raise(sig);
}

class OutputFile {
 public:
  OutputFile(std::string path, const char *header) : path_(std::move(path)) {
    temp_ = path_ + "." + std::to_string(::getpid()) + ".partial";
    if (temp_.size() >= sizeof gTempNames[0]) fail(path_, "path too long");
    file_ = std::fopen(temp_.c_str(), "wb");
    if (!file_) fail(path_, std::string("cannot write: ") + std::strerror(errno));
    std::strcpy(gTempNames[gTempCount], temp_.c_str());
    gTempCount = gTempCount + 1;
    write(std::string(header) + "\n");
  }
  // An output that was not committed is thrown away; the failure that stopped
  // the run is the one reported.
  ~OutputFile() {
    if (file_) {
      (void)std::fclose(file_);
      (void)std::remove(temp_.c_str());
    }
  }
  void write(const std::string &s) {
    if (std::fwrite(s.data(), 1, s.size(), file_) != s.size())
      fail(path_, std::string("cannot write: ") + std::strerror(errno));
  }
  // Closes the temporary file and gives it its name.
  void commit() {
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok || std::rename(temp_.c_str(), path_.c_str()) != 0) {
      const int err = errno;
      (void)std::remove(temp_.c_str());  // the write's failure is the one reported
      fail(path_, std::string("cannot write: ") + std::strerror(err));
    }
  }

 private:
  std::string path_, temp_;
  std::FILE *file_ = nullptr;
};

class Progress {
 public:
  explicit Progress(size_t total) : total_(total), on_(::isatty(STDERR_FILENO) == 1) {}
  void update(size_t done) {
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const int width = 40;
    const int filled = total_ ? static_cast<int>(width * done / total_) : width;
    // The bar is only a courtesy: a terminal that takes no more of it does
    // not stop the run.
    (void)std::fprintf(stderr, "\r[%s%s] %3d%%  %zu/%zu trees", std::string(filled, '#').c_str(),
                       std::string(width - filled, '.').c_str(),
                       total_ ? static_cast<int>(100 * done / total_) : 100, done, total_);
    (void)std::fflush(stderr);
  }
  void finish() {
    if (on_) (void)std::fprintf(stderr, "\r%*s\r", 70, "");
  }

 private:
  size_t total_;
  bool on_;
  std::chrono::steady_clock::time_point last_{};
};

// ------------------------------------------------------------ the run

// Receives the bucked trees from the library in the inventory's order and
// writes their rows. An exception cannot cross the library, so a failure to
// write stops the run and is thrown again once the library has returned.
struct Writer {
  const Inventory &inventory;
  const std::vector<Product> &products;
  OutputFile &logs;
  OutputFile &totals;
  Progress &progress;
  std::size_t productCount;
  bool markExact;  // the totals say which trees the exact optimiser bucked
  std::size_t logRows = 0;
  std::string logText, totalText;
  std::exception_ptr failure;
};

extern "C" std::int32_t writeBlock(void *context, const xylotrak_inventory_block *block) {
  Writer &w = *static_cast<Writer *>(context);
  try {
    w.logText.clear();
    w.totalText.clear();
    for (std::int32_t t = 0; t < block->treeCount; ++t) {
      const xylotrak_tree_result &r = block->trees[t];
      const std::string id = csvCell(std::string(w.inventory.id(static_cast<size_t>(r.tree))));
      appendLogRows(w.logText, &id, w.products, block->rows + r.firstRow + 1, r.logCount);
      appendTotalsRow(w.totalText, id, r.outcome, r.logCount, r.totals);
      if (w.markExact) {
        w.totalText.pop_back();  // the line break
        w.totalText += r.method == XYLOTRAK_METHOD_EXACT ? ",1\n" : ",0\n";
      }
      w.logRows += static_cast<size_t>(r.logCount);
    }
    w.logs.write(w.logText);
    w.totals.write(w.totalText);
    w.progress.update(static_cast<size_t>(block->firstTree + block->treeCount));
    return 0;
  } catch (...) {
    w.failure = std::current_exception();
    return 1;
  }
}

int runBatch(const BatchCommand &c) {
  const BuckParams params = c.buck.get();
  const auto jobs = toNumber(c.jobsRaw);
  if (!jobs || *jobs != std::floor(*jobs) || *jobs < 0 || *jobs > 256)
    fail("option -j",
         "expected a whole number of threads from 1 to 256 (0: one per processor), got \"" +
             c.jobsRaw + "\"");
  const int threads = static_cast<int>(*jobs);
  const std::vector<Product> products = readProducts(c.products);
  std::map<std::string, Model> models;
  if (!c.models.empty()) models = readModelsJson(c.models);

  std::filesystem::path stem(c.inventory);
  stem.replace_extension();
  const std::string logsPath = c.logs.empty() ? stem.string() + "_logs.csv" : c.logs;
  const std::string totalsPath = c.totals.empty() ? stem.string() + "_totals.csv" : c.totals;
  std::error_code ec;
  for (const auto &out : {logsPath, totalsPath})
    if (std::filesystem::equivalent(out, c.inventory, ec))
      fail(out, "would overwrite the inventory");
  if (logsPath == totalsPath) fail(logsPath, "given as both the logs and the totals file");

  int skipped = 0;
  const Inventory inventory =
      readInventory(c.inventory, c.models.empty() ? nullptr : &models, c.models, skipped);
  const std::size_t checkThreads =
      threads > 0 ? static_cast<std::size_t>(threads)
                  : std::max<std::size_t>(1, std::thread::hardware_concurrency());
  for (const ModelUse &use : checkModels(inventory, checkThreads))
    reportFindings(modelPlace(use, inventory, c.inventory, c.models), use.findings, c.buck.strict);

  // Without the handler an interrupted run would leave its .partial files
  // behind, but would run the same: a failure to install it is not fatal.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) (void)std::signal(sig, removeTempsAndDie);
  OutputFile logs(logsPath, libraryWordList(XYLOTRAK_WORDS_LOG_COLUMN, 0, kLogColumns).c_str());
  const bool markExact = params.exactWhenGivenUp;
  OutputFile totals(
      totalsPath,
      (totalsCsvHeader() +
       (markExact ? "," + *libraryWord(XYLOTRAK_WORDS_TOTALS_COLUMN, kTotalsColumns - 1) : ""))
          .c_str());
  Progress progress(inventory.size());

  std::vector<xylotrak_taper_model> table;
  for (const Model &m : inventory.models)
    table.push_back({m.coefs.data(), m.exps.data(), m.terms(), 0});
  std::vector<ProductSpec> records;
  records.reserve(products.size());
  for (const Product &p : products) records.push_back(p.record);
  const xylotrak_inventory_params q = inventoryParams(params, threads);
  Writer writer{inventory, products, logs, totals, progress, records.size(),
                markExact, 0,        {},   {},     nullptr};
  const std::int32_t result =
      PHVbDll(inventory.dbh.data(), inventory.height.data(), inventory.model.data(),
              static_cast<std::int64_t>(inventory.size()), table.data(),
              static_cast<std::int32_t>(table.size()), records.data(),
              static_cast<int>(records.size()), &q, &writeBlock, &writer);
  if (writer.failure) std::rethrow_exception(writer.failure);
  if (result == XYLOTRAK_INVENTORY_OUT_OF_MEMORY) throw std::bad_alloc();
  if (result != XYLOTRAK_INVENTORY_OK)
    throw std::runtime_error("the inventory bucking answered " + std::to_string(result));
  progress.finish();
  logs.commit();
  totals.commit();
  gTempCount = 0;
  std::cerr << "xtk batch: " << inventory.size() << " trees bucked (" << writer.logRows
            << " logs), " << skipped << " skipped; wrote " << logsPath << " and " << totalsPath
            << "\n";
  return skipped > 0 ? 1 : 0;
}

}  // namespace

Runner addBatch(CLI::App &app) {
  auto c = std::make_shared<BatchCommand>();
  CLI::App *s = app.add_subcommand(
      "batch", "Buck every tree of an inventory CSV; write CSV files of logs and of totals");
  s->add_option("inventory", c->inventory,
                "Inventory CSV: id,dbh,height and model (see --models) or coefs,exps "
                "(numbers separated by blanks)")
      ->type_name("FILE")
      ->required();
  s->add_option("--products", c->products, "Product table, JSON or CSV")
      ->type_name("FILE")
      ->required();
  s->add_option("--models", c->models,
                "Taper models by name, JSON: {\"name\": {\"coefs\": [..], \"exps\": [..]}}")
      ->type_name("FILE");
  s->add_option("--logs", c->logs, "Logs CSV (default <inventory stem>_logs.csv)")
      ->type_name("FILE");
  s->add_option("--totals", c->totals, "Totals CSV (default <inventory stem>_totals.csv)")
      ->type_name("FILE");
  s->add_option("-j,--jobs", c->jobsRaw, "Threads (default 1; 0: one per processor)")
      ->type_name("N");
  c->buck.add(s);
  return [c] { return runBatch(*c); };
}

}  // namespace xtk
