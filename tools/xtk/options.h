// Command-line options that xtk reads itself, so that every bad value gets
// the same kind of message: "option --dbh: not a number: "3x"".
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "input.h"
#include "stem.h"

namespace xtk {

// A number option, kept as text until it is read.
struct NumberOption {
  std::string name;  // "--dbh"
  std::string raw;
  CLI::Option *opt = nullptr;

  void add(CLI::App *app, const std::string &optionName, const std::string &help);
  bool given() const { return opt != nullptr && opt->count() > 0; }
  double get() const;  // the value; InputError when it is not a number
  double get(double fallback) const { return given() ? get() : fallback; }
  int getShort() const;  // a whole number in -32768..32767
};

// A comma-separated list of numbers.
std::vector<double> numberListOption(const std::string &name, const std::string &raw);

// --dbh --height --coefs --exps, or --tree FILE.
struct TreeOptions {
  NumberOption dbh, height;
  std::string coefs, exps, file;
  CLI::Option *coefsOpt = nullptr, *expsOpt = nullptr, *fileOpt = nullptr;

  void add(CLI::App *app);
  Tree get() const;
  // Where the tree was given, for messages about it: the file of --tree, or
  // "options --dbh/--height/--coefs/--exps".
  std::string place() const;
};

// --stump-height --stump-trim --start-height --top-limit --height-limit --optimise
// --exact, and --strict: findings of the model check stop the run instead of
// being warned about.
struct BuckOptions {
  NumberOption stumpHeight, stumpTrim, startHeight, topLimit, heightLimit;
  std::string optimise;
  bool exact = false;
  bool exactWhenGivenUp = false;
  bool strict = false;

  void add(CLI::App *app);
  BuckParams get() const;
};

// --json / --csv.
struct OutputOptions {
  bool json = false, csv = false;
  void add(CLI::App *app);
};

}  // namespace xtk
