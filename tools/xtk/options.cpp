#include "options.h"

#include <cmath>

#include "words.h"

namespace xtk {

namespace {

std::string shown(const std::string &s) { return "\"" + s + "\""; }

}  // namespace

void NumberOption::add(CLI::App *app, const std::string &optionName, const std::string &help) {
  name = optionName;
  opt = app->add_option(optionName, raw, help)->type_name("NUMBER");
}

double NumberOption::get() const {
  const auto v = toNumber(raw);
  if (!v) fail("option " + name, "not a number: " + shown(raw));
  return *v;
}

int NumberOption::getShort() const {
  const double v = get();
  if (!(v == std::floor(v) && v >= -32768 && v <= 32767))
    fail("option " + name, "not a whole number in -32768..32767: " + shown(raw));
  return static_cast<int>(v);
}

std::vector<double> numberListOption(const std::string &name, const std::string &raw) {
  std::vector<double> out;
  std::string_view text = raw;
  for (;;) {
    const size_t end = text.find(',');
    const std::string item(text.substr(0, end));
    const auto v = toNumber(item);
    if (!v)
      fail("option " + name, item.find_first_not_of(" \t") == std::string::npos
                                 ? "empty item in " + shown(raw)
                                 : "not a number: " + shown(item));
    out.push_back(*v);
    if (end == std::string_view::npos) return out;
    text.remove_prefix(end + 1);
  }
}

void TreeOptions::add(CLI::App *app) {
  dbh.add(app, "--dbh", "Diameter at breast height (cm)");
  height.add(app, "--height", "Total height of the tree (m)");
  coefsOpt =
      app->add_option("--coefs", coefs, "Taper coefficients c0,c1,...,cn")->type_name("LIST");
  expsOpt = app->add_option("--exps", exps, "Taper exponents e0,e1,...,en (e0 normally 0)")
                ->type_name("LIST");
  fileOpt =
      app->add_option("--tree", file,
                      "Tree and taper model as JSON: {\"dbh\":..,\"height\":..,\"coefs\":[..],"
                      "\"exps\":[..]}")
          ->type_name("FILE");
}

Tree TreeOptions::get() const {
  const bool any = dbh.given() || height.given() || coefsOpt->count() || expsOpt->count();
  if (fileOpt->count()) {
    if (any) fail("option --tree", "give either --tree or --dbh/--height/--coefs/--exps, not both");
    return readTreeJson(file);
  }
  for (const auto *o : {dbh.opt, height.opt, coefsOpt, expsOpt})
    if (!o->count()) fail("option " + o->get_name(), "required (or give the tree as --tree FILE)");
  const TreeSource source = TreeSource::options();
  Tree t;
  t.dbh = dbh.get();
  t.height = height.get();
  checkDimensions(t.dbh, t.height, source);
  t.model.coefs = numberListOption("--coefs", coefs);
  t.model.exps = numberListOption("--exps", exps);
  checkModel(t.model, source);
  return t;
}

std::string TreeOptions::place() const {
  return fileOpt->count() ? file : "options --dbh/--height/--coefs/--exps";
}

void BuckOptions::add(CLI::App *app) {
  const auto byDefault = [](int which) {
    return " (m, default " + buckingDefaultText(which) + ")";
  };
  stumpHeight.add(app, "--stump-height",
                  "Height of the felling cut" + byDefault(XYLOTRAK_DEFAULT_STUMP_HEIGHT));
  stumpTrim.add(
      app, "--stump-trim",
      "Allowance between the stump and the first log" + byDefault(XYLOTRAK_DEFAULT_STUMP_TRIM));
  startHeight.add(app, "--start-height",
                  "Lowest height of the first log, sequential bucking only" +
                      byDefault(XYLOTRAK_DEFAULT_START_HEIGHT));
  topLimit.add(app, "--top-limit",
               "A log of minimum length must end below this height (m, default " +
                   buckingDefaultText(XYLOTRAK_DEFAULT_TOP_HEIGHT_LIMIT) + ": the top)");
  heightLimit.add(
      app, "--height-limit",
      "Height limit for products with heightRule 1" + byDefault(XYLOTRAK_DEFAULT_HEIGHT_LIMIT));
  app->add_option("--optimise", optimise,
                  "Search for the best sequence of logs by 'value' or 'volume' "
                  "(default: sequential bucking in priority order)")
      ->type_name("value|volume");
  app->add_flag("--exact", exact,
                "With --optimise: the exact optimum over every admissible sequence of logs, "
                "which never gives up on a large search");
  app->add_flag("--exact-when-given-up", exactWhenGivenUp,
                "With --optimise (without --exact): a tree on which the search gives up is "
                "bucked by the exact optimiser instead");
  app->add_flag("--strict", strict,
                "Stop with exit code 2 when the check of a taper model has findings "
                "(without it they are warnings; see xtk taper --check)");
}

BuckParams BuckOptions::get() const {
  BuckParams p;
  p.stumpHeight = stumpHeight.get(buckingDefault(XYLOTRAK_DEFAULT_STUMP_HEIGHT));
  p.stumpTrim = stumpTrim.get(buckingDefault(XYLOTRAK_DEFAULT_STUMP_TRIM));
  p.startHeight = startHeight.get(buckingDefault(XYLOTRAK_DEFAULT_START_HEIGHT));
  p.topHeightLimit = topLimit.get(buckingDefault(XYLOTRAK_DEFAULT_TOP_HEIGHT_LIMIT));
  p.heightLimit = heightLimit.get(buckingDefault(XYLOTRAK_DEFAULT_HEIGHT_LIMIT));
  if (p.stumpHeight < 0) fail("option --stump-height", "must not be negative");
  if (p.stumpTrim < 0) fail("option --stump-trim", "must not be negative");
  if (optimise.empty())
    p.objective = -1;
  else if (optimise == "value")
    p.objective = 0;
  else if (optimise == "volume")
    p.objective = 1;
  else
    fail("option --optimise", "expected value or volume, got " + shown(optimise));
  if (exact && p.objective < 0) fail("option --exact", "needs --optimise value or volume");
  p.exact = exact;
  if (exactWhenGivenUp && (p.objective < 0 || exact))
    fail("option --exact-when-given-up", "needs --optimise value or volume without --exact");
  p.exactWhenGivenUp = exactWhenGivenUp;
  return p;
}

void OutputOptions::add(CLI::App *app) {
  auto *j = app->add_flag("--json", json, "Print JSON with full precision");
  auto *c = app->add_flag("--csv", csv, "Print CSV with full precision");
  j->excludes(c);
}

}  // namespace xtk
