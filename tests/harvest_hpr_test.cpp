// The .hpr reader on small fixtures (tests/data/hpr, written by
// make_fixtures.py) and on broken files, and the audit of a file: the values
// of the logs cut worked by hand, the optimum against the logs cut.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "xylotrak.h"

namespace {

std::string text(const xylotrak_hpr *f, int table, int64_t row) {
  xylotrak_char16 buffer[512];
  const int32_t n = HPRrDll(f, table, row, nullptr, buffer, 512);
  std::string s;
  for (int32_t i = 0; i < n && i < 511; ++i) s += static_cast<char>(buffer[i]);
  return s;
}

std::string message(int32_t (*read)(const std::string &, xylotrak_hpr **, xylotrak_char16 *),
                    const std::string &input, int32_t *code) {
  xylotrak_char16 buffer[512];
  xylotrak_hpr *f = reinterpret_cast<xylotrak_hpr *>(1);
  *code = read(input, &f, buffer);
  EXPECT_EQ(f, nullptr);
  std::string s;
  for (int i = 0; buffer[i] != 0; ++i) s += static_cast<char>(buffer[i]);
  return s;
}

int32_t fromMemory(const std::string &s, xylotrak_hpr **f, xylotrak_char16 *m) {
  return HPRpDll(s.data(), static_cast<int64_t>(s.size()), f, m, 512);
}

struct File {
  xylotrak_hpr *f = nullptr;
  explicit File(const char *name) {
    xylotrak_char16 m[256];
    const std::string path = std::string(XYLOTRAK_HPR_FIXTURES) + "/" + name;
    EXPECT_EQ(HPRoDll(path.c_str(), &f, m, 256), XYLOTRAK_HPR_OK);
  }
  ~File() { HPRcDll(f); }
  bool noted(const std::string &what) const {
    for (int64_t i = 0; i < HPRnDll(f, XYLOTRAK_HPR_UNSUPPORTED); ++i)
      if (text(f, XYLOTRAK_HPR_UNSUPPORTED, i).find(what) != std::string::npos) return true;
    return false;
  }
};

TEST(HprReader, ReadsSpeciesProductsStemsAndLogs) {
  const File file("small.hpr");
  xylotrak_hpr *f = file.f;
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(HPRnDll(f, XYLOTRAK_HPR_SPECIES), 2);
  xylotrak_hpr_species sp{};
  HPRrDll(f, XYLOTRAK_HPR_SPECIES, 0, &sp, nullptr, 0);
  EXPECT_EQ(sp.key, 1);
  EXPECT_EQ(sp.barkFunction, 1);
  EXPECT_EQ(text(f, XYLOTRAK_HPR_SPECIES, 1), "Pine");

  ASSERT_EQ(HPRnDll(f, XYLOTRAK_HPR_PRODUCTS), 3);
  xylotrak_hpr_product saw{};
  HPRrDll(f, XYLOTRAK_HPR_PRODUCTS, 0, &saw, nullptr, 0);
  EXPECT_EQ(text(f, XYLOTRAK_HPR_PRODUCTS, 0), "Spruce saw log");
  EXPECT_EQ(saw.key, 11);
  EXPECT_EQ(saw.supported, 1);
  const auto &m = saw.matrix;
  ASSERT_EQ(m.diameterClassCount, 3);
  ASSERT_EQ(m.lengthClassCount, 4);
  EXPECT_EQ(m.diameterLimits[2], 240);
  EXPECT_EQ(m.diameterMax, 400);
  EXPECT_EQ(m.lengthLimits[3], 460);
  EXPECT_EQ(m.lengthMax, 490);
  EXPECT_EQ(m.prices[1 * 4 + 2], 600);                     // 200 mm, 430 cm
  EXPECT_EQ(m.cells[2 * 4 + 3], XYLOTRAK_CELL_FORBIDDEN);  // 240 mm, 460 cm
  EXPECT_EQ(m.cells[1 * 4 + 0], XYLOTRAK_CELL_HAND_ONLY);  // 200 mm, 370 cm
  EXPECT_EQ(m.cells[0], XYLOTRAK_CELL_OPEN);
  EXPECT_EQ(m.diameterUnderBark, 1);
  EXPECT_EQ(m.volumeRule, XYLOTRAK_VOLUME_TOP);
  EXPECT_EQ(m.volumeLength, XYLOTRAK_VOLUME_LENGTH_CLASS);
  EXPECT_EQ(m.volumeUnderBark, 1);
  ASSERT_EQ(m.gradeCount, 1);
  EXPECT_EQ(m.grades[0], 1);
  xylotrak_hpr_product pulp{};
  HPRrDll(f, XYLOTRAK_HPR_PRODUCTS, 1, &pulp, nullptr, 0);
  EXPECT_EQ(pulp.matrix.priceBasis, XYLOTRAK_PRICE_PER_LOG);
  EXPECT_EQ(pulp.matrix.volumeRule, XYLOTRAK_VOLUME_SOLID);

  ASSERT_EQ(HPRnDll(f, XYLOTRAK_HPR_STEMS), 2);
  xylotrak_hpr_stem st{};
  HPRrDll(f, XYLOTRAK_HPR_STEMS, 0, &st, nullptr, 0);
  EXPECT_EQ(st.key, 1001);
  EXPECT_EQ(st.speciesGroupKey, 1);
  EXPECT_EQ(st.dbhMm, 304);
  EXPECT_EQ(st.logCount, 4);
  ASSERT_EQ(st.stem.pointCount, 130);
  EXPECT_EQ(st.stem.positions[129], 1290);
  EXPECT_EQ(st.stem.diameters[1], 328);
  ASSERT_EQ(st.stem.gradeCount, 2);
  EXPECT_EQ(st.stem.gradeStarts[1], 800);
  EXPECT_EQ(st.stem.grades[1], 2);
  // The bark at the log ends, where the file gives over- and under-bark diameters.
  ASSERT_EQ(st.stem.barkCount, 5);  // 0, 432, 835, 985, 1265
  EXPECT_EQ(st.stem.barkPositions[1], 432);
  EXPECT_EQ(st.stem.barkThickness[0], 330 - 318);

  ASSERT_EQ(HPRnDll(f, XYLOTRAK_HPR_LOGS), 6);
  xylotrak_hpr_log l{};
  HPRrDll(f, XYLOTRAK_HPR_LOGS, 3, &l, nullptr, 0);
  EXPECT_EQ(l.productKey, 12);
  EXPECT_EQ(l.product, 1);
  EXPECT_EQ(l.startCm, 432 + 403 + 150);
  EXPECT_EQ(l.lengthCm, 280);
  EXPECT_EQ(l.volumes[XYLOTRAK_HPR_M3_PRICE], 0.0431);
  EXPECT_TRUE(std::isnan(l.volumes[XYLOTRAK_HPR_M3SOB]));
  EXPECT_EQ(l.diameters[XYLOTRAK_HPR_TOP_OB], 77);

  // The bark function is listed, not applied; the header is not read.
  EXPECT_TRUE(file.noted("bark function 'LinearBarkFunction' is not applied"));
  EXPECT_TRUE(file.noted("element 'HarvestedProductionHeader'"));
  EXPECT_EQ(HPRnDll(f, 99), -1);
  EXPECT_EQ(HPRrDll(f, XYLOTRAK_HPR_LOGS, 6, &l, nullptr, 0), -1);
}

TEST(HprAudit, ValuesTheLogsCutByHandAndNeverBeatsTheOptimum) {
  const File file("small.hpr");
  xylotrak_hpr *f = file.f;
  ASSERT_NE(f, nullptr);
  xylotrak_audit_totals totals{};
  ASSERT_EQ(HPRaDll(f, 1, &totals), XYLOTRAK_HPR_OK);
  ASSERT_EQ(HPRnDll(f, XYLOTRAK_HPR_AUDIT_STEMS), 2);
  xylotrak_audit_stem a{};
  HPRrDll(f, XYLOTRAK_HPR_AUDIT_STEMS, 0, &a, nullptr, 0);
  // Saw 432: top ub 234 mm, class 200 x 430: 600 x 0.1849. Saw 403: top ub
  // 155 mm, below the classes: 0. Saw 150: below the length classes: 0.
  // Pulp 280: 9 a log.
  EXPECT_DOUBLE_EQ(a.actualValue, 600 * 0.1849 + 0 + 0 + 9);
  EXPECT_EQ(a.status, XYLOTRAK_MATRIX_OK);
  EXPECT_EQ(a.actualLogCount, 4);
  EXPECT_GT(a.optimalLogCount, 0);
  std::vector<xylotrak_audit_log> logs(static_cast<size_t>(a.actualLogCount + a.optimalLogCount));
  for (size_t i = 0; i < logs.size(); ++i)
    HPRrDll(f, XYLOTRAK_HPR_AUDIT_LOGS, a.firstLog + static_cast<int64_t>(i), &logs[i], nullptr, 0);
  EXPECT_EQ(logs[1].log.status, XYLOTRAK_LOG_OUTSIDE_DIAMETER);
  EXPECT_EQ(logs[2].log.lengthClass, -1);  // 150 cm, below every length class
  EXPECT_EQ(logs[2].fileValue, 0);
  EXPECT_EQ(logs[3].fileValue, 9);
  EXPECT_EQ(logs[3].log.value, 9);
  // The model values the first log with its own top volume (class length, under bark).
  EXPECT_EQ(logs[0].log.status, XYLOTRAK_LOG_ADMISSIBLE);
  EXPECT_NEAR(logs[0].log.volume, 0.1849, 0.002);
  // Every cut lies on the 1 cm grid, so the admissible logs cut are one of
  // the cuttings the optimum was chosen from.
  double admissible = 0;
  for (int i = 0; i < a.actualLogCount; ++i)
    if (logs[static_cast<size_t>(i)].log.status == XYLOTRAK_LOG_ADMISSIBLE)
      admissible += logs[static_cast<size_t>(i)].log.value;
  EXPECT_GE(a.optimalValue, admissible);
  EXPECT_DOUBLE_EQ(a.gain, a.optimalValue - a.actualValue);
  double sum = 0;
  for (size_t i = static_cast<size_t>(a.actualLogCount); i < logs.size(); ++i) {
    EXPECT_EQ(logs[i].optimal, 1);
    EXPECT_EQ(logs[i].log.status, XYLOTRAK_LOG_ADMISSIBLE);
    EXPECT_TRUE(logs[i].productKey == 11 || logs[i].productKey == 12);  // spruce products only
    sum += logs[i].log.value;
  }
  EXPECT_NEAR(sum, a.optimalValue, 1e-9);
  // Pine: 540 x 0.1834 + 500 x 0.1002 (mid ob 249 and 193 mm, classes 150).
  xylotrak_audit_stem b{};
  HPRrDll(f, XYLOTRAK_HPR_AUDIT_STEMS, 1, &b, nullptr, 0);
  EXPECT_DOUBLE_EQ(b.actualValue, 540 * 0.1834 + 500 * 0.1002);
  EXPECT_EQ(totals.stems, 2);
  EXPECT_EQ(totals.stemsOptimised, 2);
  EXPECT_DOUBLE_EQ(totals.actualValue, a.actualValue + b.actualValue);
  EXPECT_DOUBLE_EQ(totals.optimalValue, a.optimalValue + b.optimalValue);
  // A coarser grid never finds more.
  xylotrak_audit_totals coarse{};
  ASSERT_EQ(HPRaDll(f, 10, &coarse), XYLOTRAK_HPR_OK);
  EXPECT_LE(coarse.optimalValue, totals.optimalValue + 1e-9);
  EXPECT_EQ(HPRaDll(f, 0, &coarse), XYLOTRAK_HPR_BAD_ARGUMENT);
}

TEST(HprAudit, AStemNeedingAnUnsupportedRuleKeepsItsActualValueAndNoOptimum) {
  const File file("unsupported.hpr");
  xylotrak_hpr *f = file.f;
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(file.noted("volume rule 'Calculated Norwegian mid' is not supported"));
  EXPECT_TRUE(file.noted("element 'OperatorDefinition' in 'Machine' is not read"));
  xylotrak_hpr_product saw{};
  HPRrDll(f, XYLOTRAK_HPR_PRODUCTS, 0, &saw, nullptr, 0);
  EXPECT_EQ(saw.supported, 0);
  xylotrak_audit_totals totals{};
  ASSERT_EQ(HPRaDll(f, 10, &totals), XYLOTRAK_HPR_OK);
  xylotrak_audit_stem a{}, b{};
  HPRrDll(f, XYLOTRAK_HPR_AUDIT_STEMS, 0, &a, nullptr, 0);
  EXPECT_EQ(a.status, XYLOTRAK_MATRIX_UNSUPPORTED_RULE);
  EXPECT_DOUBLE_EQ(a.actualValue, 600 * 0.1849 + 9);  // still priced from the file
  EXPECT_TRUE(std::isnan(a.optimalValue));
  EXPECT_EQ(a.optimalLogCount, 0);
  EXPECT_NE(text(f, XYLOTRAK_HPR_AUDIT_STEMS, 0).find("Calculated Norwegian mid"),
            std::string::npos);
  HPRrDll(f, XYLOTRAK_HPR_AUDIT_STEMS, 1, &b, nullptr, 0);
  EXPECT_EQ(b.status, XYLOTRAK_MATRIX_OK);  // the pine products are all supported
  EXPECT_EQ(totals.stemsOptimised, 1);
}

TEST(HprReader, BrokenFilesNameTheElementAndLine) {
  int32_t code = 0;
  std::string m = message(fromMemory, "<HarvestedProduction>\n<Machine>\n</Machin>", &code);
  EXPECT_EQ(code, XYLOTRAK_HPR_MALFORMED);
  EXPECT_NE(m.find("line 3"), std::string::npos) << m;
  m = message(fromMemory,
              "<HarvestedProduction><Machine>\n<Stem><StemKey>4</StemKey>\n"
              "<SingleTreeProcessedStem><StemDiameters>\n"
              "<DiameterValue diameterPosition=\"10\">12x</DiameterValue>"
              "</StemDiameters></SingleTreeProcessedStem></Stem></Machine></HarvestedProduction>",
              &code);
  EXPECT_EQ(code, XYLOTRAK_HPR_MALFORMED);
  EXPECT_EQ(m, "line 4: element 'DiameterValue': expected a number, got \"12x\"");
  m = message(fromMemory,
              "<HarvestedProduction><Machine><Stem>\n</Stem></Machine></HarvestedProduction>",
              &code);
  EXPECT_EQ(m, "line 1: element 'Stem': no StemKey");
  m = message(fromMemory, "<Other/>", &code);
  EXPECT_NE(m.find("HarvestedProduction"), std::string::npos);
  m = message(fromMemory, "", &code);
  EXPECT_EQ(code, XYLOTRAK_HPR_MALFORMED);
  xylotrak_hpr *f = nullptr;
  EXPECT_EQ(HPRoDll("/nonexistent/x.hpr", &f, nullptr, 0), XYLOTRAK_HPR_CANNOT_READ);
  EXPECT_EQ(HPRoDll(nullptr, &f, nullptr, 0), XYLOTRAK_HPR_BAD_ARGUMENT);
  // A message is cut to its capacity and always ends.
  xylotrak_char16 tiny[5] = {9, 9, 9, 9, 9};
  EXPECT_EQ(HPRpDll("<x", 2, &f, tiny, 4), XYLOTRAK_HPR_MALFORMED);
  EXPECT_EQ(tiny[3], 0);
  EXPECT_EQ(tiny[4], 9);
}

// The bytes of one record of a table (its padding and arrays compared apart).
template <typename Record>
Record row(const xylotrak_hpr *f, int table, int64_t i) {
  Record r{};
  HPRrDll(f, table, i, &r, nullptr, 0);
  return r;
}

template <typename T>
std::vector<T> values(const T *p, int32_t n) {
  return n > 0 ? std::vector<T>(p, p + n) : std::vector<T>();
}

// schema.hpr holds small.hpr's content under the element names of the
// StanForD 2010 schema; small.hpr uses the names an earlier reader took.
// Both are read to the same tables.
TEST(HprReader, SchemaNamesAndEarlierNamesGiveTheSameTables) {
  const File schema("schema.hpr"), earlier("small.hpr");
  const xylotrak_hpr *a = schema.f, *b = earlier.f;
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  for (const int t :
       {XYLOTRAK_HPR_SPECIES, XYLOTRAK_HPR_PRODUCTS, XYLOTRAK_HPR_STEMS, XYLOTRAK_HPR_LOGS})
    ASSERT_EQ(HPRnDll(a, t), HPRnDll(b, t)) << "table " << t;
  for (int64_t i = 0; i < HPRnDll(a, XYLOTRAK_HPR_SPECIES); ++i) {
    const auto x = row<xylotrak_hpr_species>(a, XYLOTRAK_HPR_SPECIES, i);
    const auto y = row<xylotrak_hpr_species>(b, XYLOTRAK_HPR_SPECIES, i);
    EXPECT_EQ(x.key, y.key);
    EXPECT_EQ(x.barkFunction, y.barkFunction);
    EXPECT_EQ(text(a, XYLOTRAK_HPR_SPECIES, i), text(b, XYLOTRAK_HPR_SPECIES, i));
  }
  for (int64_t i = 0; i < HPRnDll(a, XYLOTRAK_HPR_PRODUCTS); ++i) {
    const auto x = row<xylotrak_hpr_product>(a, XYLOTRAK_HPR_PRODUCTS, i);
    const auto y = row<xylotrak_hpr_product>(b, XYLOTRAK_HPR_PRODUCTS, i);
    const auto &m = x.matrix, &n = y.matrix;
    EXPECT_EQ(x.key, y.key);
    EXPECT_EQ(x.speciesGroupKey, y.speciesGroupKey);
    EXPECT_EQ(x.supported, y.supported);
    EXPECT_EQ(values(m.diameterLimits, m.diameterClassCount),
              values(n.diameterLimits, n.diameterClassCount));
    EXPECT_EQ(values(m.lengthLimits, m.lengthClassCount),
              values(n.lengthLimits, n.lengthClassCount));
    const int32_t cells = m.diameterClassCount * m.lengthClassCount;
    EXPECT_EQ(values(m.prices, cells), values(n.prices, cells));
    EXPECT_EQ(values(m.cells, cells), values(n.cells, cells));
    EXPECT_EQ(values(m.grades, m.gradeCount), values(n.grades, n.gradeCount));
    EXPECT_EQ(m.diameterMax, n.diameterMax);
    EXPECT_EQ(m.lengthMax, n.lengthMax);
    EXPECT_EQ(m.diameterPosition, n.diameterPosition);
    EXPECT_EQ(m.diameterUnderBark, n.diameterUnderBark);
    EXPECT_EQ(m.priceBasis, n.priceBasis);
    EXPECT_EQ(m.volumeRule, n.volumeRule);
    EXPECT_EQ(m.volumeLength, n.volumeLength);
    EXPECT_EQ(m.volumeUnderBark, n.volumeUnderBark);
  }
  for (int64_t i = 0; i < HPRnDll(a, XYLOTRAK_HPR_STEMS); ++i) {
    const auto x = row<xylotrak_hpr_stem>(a, XYLOTRAK_HPR_STEMS, i);
    const auto y = row<xylotrak_hpr_stem>(b, XYLOTRAK_HPR_STEMS, i);
    const auto &s = x.stem, &t = y.stem;
    EXPECT_EQ(x.key, y.key);
    EXPECT_EQ(x.dbhMm, y.dbhMm);
    EXPECT_EQ(x.logCount, y.logCount);
    EXPECT_EQ(values(s.positions, s.pointCount), values(t.positions, t.pointCount));
    EXPECT_EQ(values(s.diameters, s.pointCount), values(t.diameters, t.pointCount));
    EXPECT_EQ(values(s.barkPositions, s.barkCount), values(t.barkPositions, t.barkCount));
    EXPECT_EQ(values(s.barkThickness, s.barkCount), values(t.barkThickness, t.barkCount));
    EXPECT_EQ(values(s.gradeStarts, s.gradeCount), values(t.gradeStarts, t.gradeCount));
    EXPECT_EQ(values(s.grades, s.gradeCount), values(t.grades, t.gradeCount));
  }
  for (int64_t i = 0; i < HPRnDll(a, XYLOTRAK_HPR_LOGS); ++i) {
    const auto x = row<xylotrak_hpr_log>(a, XYLOTRAK_HPR_LOGS, i);
    const auto y = row<xylotrak_hpr_log>(b, XYLOTRAK_HPR_LOGS, i);
    EXPECT_EQ(x.productKey, y.productKey);
    EXPECT_EQ(x.startCm, y.startCm);
    EXPECT_EQ(x.lengthCm, y.lengthCm);
    for (int k = 0; k < 6; ++k)
      EXPECT_TRUE(x.diameters[k] == y.diameters[k] ||
                  (std::isnan(x.diameters[k]) && std::isnan(y.diameters[k])))
          << "log " << i << " diameter " << k;
    EXPECT_EQ(x.volumes[0], y.volumes[0]);
  }
  // The schema's bark function is listed by its category; otherwise both list
  // the same things (the header and the machine key, not read).
  EXPECT_TRUE(schema.noted("bark function 'Swedish Zacco' is not applied"));
  auto notes = [](const xylotrak_hpr *f) {
    std::vector<std::string> out;
    for (int64_t i = 0; i < HPRnDll(f, XYLOTRAK_HPR_UNSUPPORTED); ++i) {
      std::string t = text(f, XYLOTRAK_HPR_UNSUPPORTED, i);
      if (t.find("bark function") == std::string::npos) out.push_back(t);
    }
    return out;
  };
  EXPECT_EQ(notes(a), notes(b));
}

TEST(HprReader, SchemaCategoriesTheLibraryDoesNotCarryAreUnsupported) {
  const std::string head =
      "<HarvestedProduction><Machine><ProductDefinition><ProductKey>1</ProductKey>"
      "<ClassifiedProductDefinition><DiameterDefinition><DiameterClasses "
      "diameterClassCategory=\"Top\"><DiameterClass><DiameterClassLowerLimit>100"
      "</DiameterClassLowerLimit></DiameterClass><DiameterClassMAX>300</DiameterClassMAX>"
      "</DiameterClasses></DiameterDefinition><LengthDefinition><LengthClass>"
      "<LengthClassLowerLimit>300</LengthClassLowerLimit></LengthClass><LengthClassMAX>600"
      "</LengthClassMAX></LengthDefinition>\n<PriceDefinition>";
  const std::string tail =
      "</PriceDefinition><ProductMatrixes><ProductMatrixItem diameterClassLowerLimit=\"100\" "
      "lengthClassLowerLimit=\"300\"><Price>5</Price></ProductMatrixItem></ProductMatrixes>"
      "</ClassifiedProductDefinition></ProductDefinition></Machine></HarvestedProduction>";
  const char *const rules[] = {
      "<VolumeDiameterCategory>Calculated Norwegian mid</VolumeDiameterCategory>",
      "<VolumeDiameterCategory>Calculated Estonian mid</VolumeDiameterCategory>",
      "<VolumeDiameterCategory volumeDiameterTopPosition=\"10\">Top</VolumeDiameterCategory>",
      "<VolumeDiameterAdjustment>Measured diameter rounded downwards to cm"
      "</VolumeDiameterAdjustment>",
      "<VolumeLengthCategory>Rounded to nearest mid-dm</VolumeLengthCategory>"};
  for (const char *rule : rules) {
    const std::string doc = head + rule + tail;
    xylotrak_hpr *f = nullptr;
    ASSERT_EQ(HPRpDll(doc.data(), static_cast<int64_t>(doc.size()), &f, nullptr, 0),
              XYLOTRAK_HPR_OK)
        << rule;
    xylotrak_hpr_product p{};
    HPRrDll(f, XYLOTRAK_HPR_PRODUCTS, 0, &p, nullptr, 0);
    EXPECT_EQ(p.supported, 0) << rule;
    xylotrak_hpr_note n{};
    ASSERT_EQ(HPRnDll(f, XYLOTRAK_HPR_UNSUPPORTED), 1) << rule;
    HPRrDll(f, XYLOTRAK_HPR_UNSUPPORTED, 0, &n, nullptr, 0);
    EXPECT_EQ(n.line, 2) << rule;
    EXPECT_NE(text(f, XYLOTRAK_HPR_UNSUPPORTED, 0).find("not supported"), std::string::npos);
    HPRcDll(f);
  }
  // A grade start that is not a number names its element and line.
  int32_t code = 0;
  const std::string m =
      message(fromMemory,
              "<HarvestedProduction><Machine><Stem><StemKey>4</StemKey><SingleTreeProcessedStem>\n"
              "<StemGrade><GradeValue gradeStartPosition=\"a\">1</GradeValue></StemGrade>"
              "</SingleTreeProcessedStem></Stem></Machine></HarvestedProduction>",
              &code);
  EXPECT_EQ(code, XYLOTRAK_HPR_MALFORMED);
  EXPECT_EQ(m, "line 2: element 'GradeValue': expected a number, got \"a\"");
}

TEST(HprReader, AProductKeyGivenTwiceNamesBothLines) {
  int32_t code = 0;
  const std::string m =
      message(fromMemory,
              "<HarvestedProduction><Machine>\n"
              "<ProductDefinition><ProductKey>7</ProductKey></ProductDefinition>\n"
              "<ProductDefinition><ProductKey>7</ProductKey></ProductDefinition>\n"
              "</Machine></HarvestedProduction>",
              &code);
  EXPECT_EQ(code, XYLOTRAK_HPR_MALFORMED);
  EXPECT_EQ(m,
            "line 3: element 'ProductDefinition': product key 7 is defined twice (first on "
            "line 2)");
}

}  // namespace
