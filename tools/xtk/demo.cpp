// xtk demo: a realistic tree and price table bucked both ways.
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>

#include "commands.h"
#include "format.h"
#include "options.h"
#include "report.h"
#include "svg.h"
#include "words.h"

namespace xtk {

using json = nlohmann::ordered_json;

namespace {

// A 30 m conifer of 30 cm at breast height. Its relative profile
//   p(x) = 1.17 - 1.07 x^0.5 + 1.19 x - 1.54 x^2 + 0.6 x^3 - 0.35 x^6,  x = h / 30,
// narrows steadily from 1.17 at the ground (35.1 cm, the butt swell) through
// 1.0 at breast height to 0 at the tip.
Tree demoTree() {
  Tree t;
  t.dbh = 30;
  t.height = 30;
  t.model.coefs = {1.17, -1.07, 1.19, -1.54, 0.6, -0.35};
  t.model.exps = {0, 0.5, 1, 2, 3, 6};
  return t;
}

Product product(const char *name, double minTop, double minBase, double minLength, double maxLength,
                double price, int basis, int position, double loss) {
  Product p;
  p.name = name;
  xylotrak_product_default(&p.record);
  p.record.minTopDiam = minTop;
  p.record.minBaseDiam = minBase;
  p.record.minLength = minLength;
  p.record.maxLength = maxLength;
  p.record.unitPrice = price;
  p.record.priceBasis = static_cast<int16_t>(basis);
  p.record.logPosition = static_cast<int16_t>(position);
  p.record.lossFraction = loss;
  p.record.trimLength = 0.1;
  return p;
}

// Four assortments in the mill's order of priority: veneer only from the butt
// log, sawlogs, poles of exactly 6 m with a top of 14 to 20 cm paid by the
// piece, and pulpwood. Cutting in priority order takes sawlogs as far as they
// go and is then too thin for a pole; the search finds that a pole in the
// middle of the stem pays more.
std::vector<Product> demoProducts() {
  std::vector<Product> p = {product("veneer", 26, 0, 3.0, 4.0, 150, 0, 1, 0.05),
                            product("sawlog", 18, 0, 3.0, 5.0, 90, 0, 0, 0.05),
                            product("pole", 14, 0, 6.0, 6.0, 16, 2, 0, 0.0),
                            product("pulp", 7, 0, 2.0, 3.0, 25, 0, 0, 0.0)};
  p[2].record.maxTopDiam = 20;
  return p;
}

std::string polynomial(const Model &m) {
  std::string s;
  for (size_t i = 0; i < m.coefs.size(); ++i) {
    const double c = m.coefs[i];
    std::string mag = shortest(std::abs(c));
    if (i == 0) {
      s += shortest(c);
    } else {
      s += c < 0 ? " - " : " + ";
      s += mag + (m.exps[i] == 1 ? std::string(" x") : " x^" + shortest(m.exps[i]));
    }
  }
  return s;
}

json productsJson(const std::vector<Product> &products) {
  json a = json::array();
  for (const auto &p : products) {
    json o = {{"name", p.name}};
    for (const auto &f : productFields())
      o[f.name] = f.real ? json(p.record.*f.real) : json(p.record.*f.whole);
    a.push_back(std::move(o));
  }
  return a;
}

void saveInputs(const std::string &dir, const Tree &t, const std::vector<Product> &products) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string tree = (std::filesystem::path(dir) / "demo-tree.json").string();
  const std::string prods = (std::filesystem::path(dir) / "demo-products.json").string();
  writeFileAtomically(tree, treeJson(t).dump(2) + "\n");
  writeFileAtomically(prods, productsJson(products).dump(2) + "\n");
  std::cout << "Wrote " << tree << " and " << prods << "\n";
}

struct DemoCommand {
  std::string svg = "demo.svg", saveDir;
  bool json = false;
};

int runDemo(const DemoCommand &c) {
  const Tree t = demoTree();
  const std::vector<Product> products = demoProducts();
  if (!c.saveDir.empty()) {
    saveInputs(c.saveDir, t, products);
    return 0;
  }
  BuckParams seqParams, optParams;
  optParams.objective = 0;
  BuckResult seq, opt;
  buck(t, products, seqParams, seq);
  buck(t, products, optParams, opt);

  if (c.json) {
    std::cout << json{{"sequential", buckJson(t, products, seqParams, seq)},
                      {"optimised", buckJson(t, products, optParams, opt)}}
                     .dump(2)
              << "\n";
  } else {
    std::cout << "Tree: " << treeSummary(t) << ", stump cut at "
              << buckingDefaultText(XYLOTRAK_DEFAULT_STUMP_HEIGHT) << " m\n"
              << "  relative diameter p(x) = " << polynomial(t.model) << ",  x = h / "
              << num17(t.height) << "\n\n";
    Table profile;
    profile.column("height m");
    for (double h : {0.0, 1.3, 3.0, 6.0, 9.0, 12.0, 15.0, 18.0, 21.0, 24.0, 27.0, 30.0})
      profile.column(fixed(h, 1));
    std::vector<std::string> row{"diameter cm"};
    for (double h : {0.0, 1.3, 3.0, 6.0, 9.0, 12.0, 15.0, 18.0, 21.0, 24.0, 27.0, 30.0})
      row.push_back(fixed(diameterAt(t, h), 1));
    profile.row(row);
    std::cout << "Profile\n";
    profile.print(std::cout);

    Table prod;
    for (const char *title : {"#", "product", "top cm", "length m", "log", "price", "loss"})
      prod.column(title, std::string(title) == "product" ? Table::Left : Table::Right);
    for (size_t i = 0; i < products.size(); ++i) {
      const ProductSpec &p = products[i].record;
      const std::string top = p.maxTopDiam < XYLOTRAK_NO_LIMIT
                                  ? fixed(p.minTopDiam, 0) + "-" + fixed(p.maxTopDiam, 0)
                                  : ">= " + fixed(p.minTopDiam, 0);
      const std::string length = p.minLength == p.maxLength
                                     ? fixed(p.maxLength, 1)
                                     : fixed(p.minLength, 1) + "-" + fixed(p.maxLength, 1);
      const char *basis = p.priceBasis == 0 ? "/m3" : p.priceBasis == 1 ? "/m" : "/log";
      prod.row({std::to_string(i + 1), products[i].name, top, length,
                p.logPosition == 0 ? "any" : std::to_string(p.logPosition),
                fixed(p.unitPrice, 0) + basis, fixed(p.lossFraction * 100, 0) + "%"});
    }
    std::cout << "\nProducts, in priority order\n";
    prod.print(std::cout);

    const auto left = logTable(products, seq).lines(), right = logTable(products, opt).lines();
    const std::string leftTitle = "Sequential bucking: value " + fixed(seq.totals[TotalValue], 2);
    const std::string rightTitle = "Optimised by value: value " + fixed(opt.totals[TotalValue], 2);
    size_t width = displayWidth(leftTitle) + 2;
    for (const auto &l : left) width = std::max(width, displayWidth(l));
    width += 4;
    auto pad = [&](const std::string &s) { return s + std::string(width - displayWidth(s), ' '); };
    std::cout << "\n" << pad("  " + leftTitle) << "  " << rightTitle << "\n";
    for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
      const std::string l = i < left.size() ? left[i] : "";
      const std::string r = i < right.size() ? right[i] : "";
      std::string line = pad(l) + r;
      while (!line.empty() && line.back() == ' ') line.pop_back();
      std::cout << line << "\n";
    }
    std::cout << "\n";
    totalsTable({"sequential", "optimised by value"}, {&seq, &opt}).print(std::cout);
    const double gain = opt.totals[TotalValue] - seq.totals[TotalValue];
    std::cout << "\nThe search for the best sequence gains " << fixed(gain, 2) << " ("
              << fixed(100 * gain / seq.totals[TotalValue], 1)
              << "%) over cutting in priority order.\n";
  }
  if (!c.svg.empty()) {
    writeFileAtomically(c.svg, renderSvg(t, products,
                                         {{"Sequential bucking (priority order)", seqParams, &seq},
                                          {"Optimised by value", optParams, &opt}}));
    (c.json ? std::cerr : std::cout) << (c.json ? "" : "\n") << "Wrote " << c.svg << "\n";
  }
  return 0;
}

}  // namespace

Runner addDemo(CLI::App &app) {
  auto c = std::make_shared<DemoCommand>();
  CLI::App *s = app.add_subcommand(
      "demo", "Buck a built-in 30 m tree into four products, in priority order and by value");
  s->add_option("--svg", c->svg, "Where to draw both buckings (default demo.svg; \"\" for none)")
      ->type_name("FILE");
  s->add_flag("--json", c->json, "Print both buckings as JSON");
  s->add_option("--save-inputs", c->saveDir,
                "Only write the demo's tree and product table as JSON files into this folder")
      ->type_name("DIR");
  return [c] { return runDemo(*c); };
}

}  // namespace xtk
