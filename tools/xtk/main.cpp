// xtk: the command-line program of the Xylotrak library.
#include <exception>
#include <iostream>
#include <new>

#include "commands.h"
#include "input.h"

namespace {

// Parses the command line and runs the subcommand given; the exit code.
int run(int argc, char **argv) {
  CLI::App app{
      "xtk: stem taper, log bucking and mensuration formulas of the Xylotrak library.\n"
      "Diameters in cm, heights and lengths in m, volumes in m3.",
      "xtk"};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Help for every subcommand");

  const xtk::Runner runners[] = {xtk::addTaper(app),    xtk::addBuck(app),   xtk::addFormula(app),
                                 xtk::addPlotArea(app), xtk::addDemo(app),   xtk::addBatch(app),
                                 xtk::addFit(app),      xtk::addHarvest(app)};
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::cerr << "xtk: " << e.what() << " (see xtk --help)\n";
    return 2;
  }
  // The subcommands in the order they were added, as the runners.
  const auto subcommands = app.get_subcommands({});
  for (size_t k = 0; k < subcommands.size(); ++k)
    if (subcommands[k]->parsed()) return runners[k]();
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const xtk::InputError &e) {
    std::cerr << "xtk: " << e.what() << "\n";
    return 2;
  } catch (const std::bad_alloc &) {
    std::cerr << "xtk: out of memory\n";
    return 2;
  } catch (const std::exception &e) {
    std::cerr << "xtk: " << e.what() << "\n";
    return 2;
  }
}
