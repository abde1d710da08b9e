// xtk batch: bucks every tree of an inventory on N threads and writes the
// logs and totals CSV files, rows in input order whatever N.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "batch_models.h"
#include "check.h"
#include "commands.h"
#include "format.h"
#include "options.h"
#include "report.h"

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

// The model a row of the inventory names.
const Model *namedModel(const std::map<std::string, Model> *models, const std::string &modelsPath,
                        const std::string &name, const std::string &where) {
  if (!models) fail(where, "field 'model': \"" + name + "\" needs --models FILE");
  const auto it = models->find(name);
  if (it == models->end()) fail(where, "field 'model': \"" + name + "\" is not in " + modelsPath);
  return &it->second;
}

std::vector<InventoryTree> readInventory(const std::string &path,
                                         const std::map<std::string, Model> *models,
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

  std::vector<InventoryTree> trees;
  std::unordered_map<std::string, int> seen;  // id -> line
  forEachCsvRow(
      csv, head.size(), skipped,
      [&](const std::vector<std::string> &cells, int line, const std::string &where) {
        InventoryTree t;
        const std::string id = trimmed(cells[col["id"]]);
        if (id.empty()) fail(where, "field 'id': empty");
        t.dbh = numberField(cells[col["dbh"]], where, "dbh");
        t.height = numberField(cells[col["height"]], where, "height");
        const std::string modelName = hasModel ? trimmed(cells[col["model"]]) : std::string();
        const bool inlineGiven =
            hasInline && (cells[col["coefs"]].find_first_not_of(" \t") != std::string::npos ||
                          cells[col["exps"]].find_first_not_of(" \t") != std::string::npos);
        if (!modelName.empty()) {
          if (inlineGiven) fail(where, "field 'model': given together with 'coefs'/'exps'");
          t.model = namedModel(models, modelsPath, modelName, where);
        } else {
          if (!hasInline) fail(where, "field 'model': empty");
          t.own.coefs = numberList(cells[col["coefs"]], ' ', where, "coefs");
          t.own.exps = numberList(cells[col["exps"]], ' ', where, "exps");
          checkModel(t.own, TreeSource::fields(where));
        }
        checkDimensions(t.dbh, t.height, TreeSource::fields(where));
        const auto [it, fresh] = seen.emplace(id, line);
        if (!fresh)
          fail(where,
               "field 'id': \"" + id + "\" already used on line " + std::to_string(it->second));
        t.id = csvCell(id);
        t.name = id;
        t.line = line;
        trees.push_back(std::move(t));
      });
  // Trees with their own coefficients point at them once the list stands still.
  for (auto &t : trees)
    if (t.model == nullptr) t.model = &t.own;
  return trees;
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

constexpr size_t kBlock = 64;  // trees per unit of work

struct Block {
  std::string logs, totals;
  bool done = false;
};

void buckBlock(const std::vector<InventoryTree> &trees, size_t b,
               const std::vector<Product> &products, const BuckParams &params, BuckResult &scratch,
               Block &out) {
  const size_t end = std::min(trees.size(), (b + 1) * kBlock);
  for (size_t i = b * kBlock; i < end; ++i) {
    const InventoryTree &it = trees[i];
    const Tree tree{it.dbh, it.height, *it.model};
    buck(tree, products, params, scratch);
    appendLogRows(out.logs, &it.id, products, scratch);
    appendTotalsRow(out.totals, it.id, scratch);
  }
}

int runBatch(const BatchCommand &c) {
  const BuckParams params = c.buck.get();
  const auto jobs = toNumber(c.jobsRaw);
  if (!jobs || *jobs != std::floor(*jobs) || *jobs < 1 || *jobs > 256)
    fail("option -j",
         "expected a whole number of threads from 1 to 256, got \"" + c.jobsRaw + "\"");
  const size_t threads = static_cast<size_t>(*jobs);
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
  const std::vector<InventoryTree> trees =
      readInventory(c.inventory, c.models.empty() ? nullptr : &models, c.models, skipped);
  for (const ModelUse &use : checkModels(trees, models, threads))
    reportFindings(modelPlace(use, c.inventory, c.models), use.findings, c.buck.strict);

  // Without the handler an interrupted run would leave its .partial files
  // behind, but would run the same: a failure to install it is not fatal.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) (void)std::signal(sig, removeTempsAndDie);
  OutputFile logs(logsPath, (std::string("id,") + kLogsCsvHeader).c_str());
  OutputFile totals(totalsPath, kTotalsCsvHeader);
  Progress progress(trees.size());

  const size_t blocks = (trees.size() + kBlock - 1) / kBlock;
  size_t logRows = 0;
  // Takes the block over, so that its text is freed once written.
  auto writeBlock = [&](Block b) {
    logs.write(b.logs);
    totals.write(b.totals);
    logRows += static_cast<size_t>(std::count(b.logs.begin(), b.logs.end(), '\n'));
  };

  if (threads == 1) {
    BuckResult scratch;
    for (size_t b = 0; b < blocks; ++b) {
      Block block;
      buckBlock(trees, b, products, params, scratch, block);
      writeBlock(std::move(block));
      progress.update(std::min(trees.size(), (b + 1) * kBlock));
    }
  } else {
    // Workers take blocks in order and keep at most `window` blocks ahead of
    // the writer, so memory stays bounded while the files come out in order.
    std::vector<Block> done(blocks);
    std::mutex mutex;
    std::condition_variable blockDone, blockWritten;
    size_t next = 0, written = 0;
    const size_t window = 8 * threads;
    bool failed = false;
    std::string failure;
    auto worker = [&] {
      BuckResult scratch;
      for (;;) {
        size_t b;
        {
          std::unique_lock lock(mutex);
          blockWritten.wait(lock, [&] { return failed || next < written + window; });
          if (failed || next >= blocks) return;
          b = next++;
        }
        Block out;
        try {
          buckBlock(trees, b, products, params, scratch, out);
        } catch (const std::exception &e) {
          std::lock_guard lock(mutex);
          failed = true;
          failure = e.what();
          blockDone.notify_all();
          blockWritten.notify_all();
          return;
        }
        std::lock_guard lock(mutex);
        done[b] = std::move(out);
        done[b].done = true;
        blockDone.notify_all();
      }
    };
    std::vector<std::thread> pool;
    for (size_t i = 0; i < threads; ++i) pool.emplace_back(worker);
    auto stop = [&] {
      {
        std::lock_guard lock(mutex);
        failed = true;
      }
      blockWritten.notify_all();
      for (auto &t : pool) t.join();
    };
    try {
      for (size_t b = 0; b < blocks; ++b) {
        Block block;
        {
          std::unique_lock lock(mutex);
          blockDone.wait(lock, [&] { return failed || done[b].done; });
          if (!done[b].done) break;
          block = std::move(done[b]);
          done[b] = Block{};
        }
        writeBlock(std::move(block));
        {
          std::lock_guard lock(mutex);
          written = b + 1;
        }
        blockWritten.notify_all();
        progress.update(std::min(trees.size(), (b + 1) * kBlock));
      }
    } catch (...) {
      stop();
      throw;
    }
    stop();
    if (!failure.empty()) throw std::runtime_error(failure);
  }
  progress.finish();
  logs.commit();
  totals.commit();
  gTempCount = 0;
  std::cerr << "xtk batch: " << trees.size() << " trees bucked (" << logRows << " logs), "
            << skipped << " skipped; wrote " << logsPath << " and " << totalsPath << "\n";
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
  s->add_option("-j,--jobs", c->jobsRaw, "Threads (default 1)")->type_name("N");
  c->buck.add(s);
  return [c] { return runBatch(*c); };
}

}  // namespace xtk
