// The subcommands of xtk. Each adds its options to the parser and returns the
// function that runs it once the command line has been parsed; that function
// returns the exit code (0 fine, 1 some input skipped, 2 bad usage or input,
// 3 findings of taper --check).
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace xtk {

using Runner = std::function<int()>;

Runner addTaper(CLI::App &app);
Runner addBuck(CLI::App &app);
Runner addFormula(CLI::App &app);
Runner addPlotArea(CLI::App &app);
Runner addDemo(CLI::App &app);
Runner addBatch(CLI::App &app);
Runner addFit(CLI::App &app);
Runner addHarvest(CLI::App &app);

}  // namespace xtk
