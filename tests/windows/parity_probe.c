/* Runs seeded random cases through the library and prints every result as
 * the hexadecimal bits of the double (or as an integer for the decisions of
 * the bucking exports), one result per line: "<kind> <case> <value>".
 * Built twice, against the Linux shared object and against the Windows DLL;
 * the parity test compares the two outputs.
 *
 * Usage: parity_probe SEED TAPER_CASES BUCKING_CASES [HPR_FIXTURE_DIR]
 *
 * With HPR_FIXTURE_DIR (tests/data/hpr, as each platform names it) the .hpr
 * fixtures are read and audited too.
 *
 * The taper exports are called directly. Exports that not every build has
 * (formulas, plot calculator, bucking) are looked up at run time and skipped
 * when absent; the bucking records are filled by byte offset. */
#if !defined(_WIN32)
#define _GNU_SOURCE
#endif
#include <inttypes.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "xylotrak.h"

#if defined(_WIN32)
#include <windows.h>
static void (*lookup(const char *name))(void) {
  HMODULE dll = GetModuleHandleA("xylotrak.dll");
  return dll == NULL ? NULL : (void (*)(void))GetProcAddress(dll, name);
}
#else
#include <dlfcn.h>
static void (*lookup(const char *name))(void) {
  void *p = dlsym(RTLD_DEFAULT, name);
  void (*f)(void) = NULL;
  memcpy(&f, &p, sizeof f);
  return f;
}
#endif

/* splitmix64: the same stream on every platform. */
static uint64_t state;
static uint64_t next64(void) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}
static double unit(void) { return (double)(next64() >> 11) * 0x1.0p-53; }
static double between(double lo, double hi) { return lo + (hi - lo) * unit(); }
static int below(int n) { return (int)(next64() % (uint64_t)n); }

static void bits(const char *kind, long item, double v) {
  uint64_t u;
  memcpy(&u, &v, sizeof u);
  printf("%s %ld %016" PRIx64 "\n", kind, item, u);
}
static void decision(const char *kind, long item, long v) {
  printf("=%s %ld %ld\n", kind, item, v);
}

typedef struct {
  double dbh, height;
  double coefs[6], exps[6];
  int terms;
} Model;

/* A stem-like profile: 1 + a few power terms, some with fractional exponents. */
static void randomModel(Model *m) {
  m->dbh = between(8, 90);
  m->height = between(6, 48);
  m->terms = 1 + below(5);
  m->coefs[0] = between(0.9, 1.4);
  m->exps[0] = 0;
  for (int k = 1; k <= m->terms; ++k) {
    m->exps[k] = below(2) ? (double)(1 + below(8)) : between(0.2, 12);
    m->coefs[k] = between(-2.5, 2.5);
  }
}

static double limitOrNone(double lo, double hi) { return below(3) == 0 ? 0 : between(lo, hi); }

static void taperCases(long cases) {
  for (long c = 0; c < cases; ++c) {
    Model m;
    randomModel(&m);
    const double *a = m.coefs, *e = m.exps;
    for (int i = 0; i < 4; ++i)
      bits("PHDiDll", c, PHDiDll(m.dbh, m.height, a, e, m.terms, between(0, m.height)));
    bits("PHHiDll", c, PHHiDll(m.dbh, m.height, a, e, m.terms, between(0, 1.2 * m.dbh)));
    bits("PHFFDll", c, PHFFDll(a, e, m.terms));
    const double lh = limitOrNone(0, m.height / 2), uh = limitOrNone(m.height / 3, m.height);
    const double ld = limitOrNone(m.dbh / 2, m.dbh), ud = limitOrNone(2, m.dbh / 2);
    const double len = below(2) ? 0 : between(0.5, 6);
    bits("PHViDll", c, PHViDll(m.dbh, m.height, a, e, m.terms, lh, uh, ld, ud, len));
    decision("PHCTDll", c, PHCTDll(m.dbh, m.height, a, e, m.terms, lh, uh, ld, ud, len + 1));
    /* The C runtime's own pow on the model's exponents, for comparison. */
    const double y = unit();
    for (int k = 1; k <= m.terms; ++k) bits("pow", c, pow(y, e[k]));
  }
}

typedef double (*Fn1)(double);
typedef double (*Fn2)(double, double);
typedef double (*Fn3)(double, double, double);
typedef double (*Fn4)(double, double, double, double);
typedef int16_t (*PlotFn)(double, double, double, double, double, int, int, int, int, double *,
                          double *, double *);

static void formulaCases(long cases) {
  Fn1 g = (Fn1)lookup("gDll");
  Fn2 dg = (Fn2)lookup("dgDll"), huber = (Fn2)lookup("VTHuDll");
  Fn3 smalian = (Fn3)lookup("VTSmDll"), neiloid = (Fn3)lookup("VTNeDll");
  Fn3 cone = (Fn3)lookup("VTCoDll");
  Fn4 newton = (Fn4)lookup("VTNwDll");
  PlotFn plot = (PlotFn)lookup("CalcAreaDll");
  for (long c = 0; c < cases; ++c) {
    const double d1 = between(5, 90), d2 = between(5, 90), dm = between(5, 90);
    const double len = between(0.5, 12);
    if (g) bits("gDll", c, g(d1));
    const double basalArea = between(0.5, 60), trees = between(1, 2000);
    if (dg) bits("dgDll", c, dg(basalArea, trees));
    if (huber) bits("VTHuDll", c, huber(dm, len));
    if (smalian) bits("VTSmDll", c, smalian(d1, d2, len));
    if (newton) bits("VTNwDll", c, newton(d1, dm, d2, len));
    if (neiloid) bits("VTNeDll", c, neiloid(d1, d2, len));
    if (cone) bits("VTCoDll", c, cone(d1, d2, len));
    if (plot) {
      /* Drawn one by one: the order in which arguments are evaluated is unspecified. */
      const double given = below(2) ? between(100, 2000) : 0;
      const double side1 = between(5, 40), side2 = between(5, 40);
      const double slope1 = between(0, 40), slope2 = between(0, 40);
      const int correct = below(2), rect = below(2), scale = below(2) ? 5 : 0, unitCode = below(3);
      double area = 0, l1 = 0, l2 = 0;
      const int16_t r = plot(given, side1, side2, slope1, slope2, correct, rect, scale, unitCode,
                             &area, &l1, &l2);
      decision("CalcAreaDll", c, r);
      bits("CalcAreaDll.area", c, area);
      bits("CalcAreaDll.length1", c, l1);
      bits("CalcAreaDll.length2", c, l2);
    }
  }
}

/* Bucking records, by byte offset. */
enum { kProductSize = 144, kLogSize = 80, kLogRows = 100, kMaxProducts = 4 };
typedef double (*SequentialFn)(double, double, const double *, const double *, int, double, double,
                               double, double, double, double, double, void *, int, double *,
                               double *, double *, double *, double *, double *, double *, double *,
                               void *);
typedef double (*OptimisedFn)(double, double, const double *, const double *, int, double, double,
                              double, double, double, double, double, void *, int, int, double *,
                              double *, double *, double *, double *, double *, double *, double *,
                              void *);

static void putDouble(unsigned char *p, size_t at, double v) { memcpy(p + at, &v, sizeof v); }
static void putShort(unsigned char *p, size_t at, int v) {
  const int16_t s = (int16_t)v;
  memcpy(p + at, &s, sizeof s);
}
static double getDouble(const unsigned char *p, size_t at) {
  double v;
  memcpy(&v, p + at, sizeof v);
  return v;
}
static int getShort(const unsigned char *p, size_t at) {
  int16_t s;
  memcpy(&s, p + at, sizeof s);
  return s;
}

static void randomProduct(unsigned char *p) {
  memset(p, 0, kProductSize);
  const double minLength = between(1, 4);
  putDouble(p, 0, between(6, 30));                              /* minTopDiam */
  putDouble(p, 8, below(3) ? 999 : between(20, 80));            /* maxTopDiam */
  putDouble(p, 16, below(3) ? 0 : between(5, 30));              /* minBaseDiam */
  putDouble(p, 24, below(3) ? 999 : between(30, 90));           /* maxBaseDiam */
  putDouble(p, 32, minLength);                                  /* minLength */
  putDouble(p, 40, minLength + (below(2) ? 0 : between(0, 4))); /* maxLength */
  putDouble(p, 48, between(5, 120));                            /* unitPrice */
  putShort(p, 56, below(3));                                    /* priceBasis */
  putShort(p, 58, below(4) ? 0 : 1 + below(3));                 /* logPosition */
  putShort(p, 60, below(3) ? 0 : 1);                            /* heightRule */
  putDouble(p, 64, below(2) ? 0 : between(0, 0.15));            /* lossFraction */
  putDouble(p, 72, below(2) ? 0 : between(0, 0.2));             /* trimLength */
}

static void reportBucking(const char *kind, long c, double result, const double totals[8],
                          const unsigned char *products, int count, const unsigned char *logs) {
  decision(kind, c, (long)result);
  bits(kind, c, result);
  for (int t = 0; t < 8; ++t) bits(kind, c, totals[t]);
  for (int p = 0; p < count; ++p) {
    const unsigned char *r = products + (size_t)p * kProductSize;
    decision(kind, c, getShort(r, 80)); /* logCount */
    for (size_t at = 88; at <= 136; at += 8) bits(kind, c, getDouble(r, at));
  }
  for (int row = 0; row < kLogRows; ++row) {
    const unsigned char *r = logs + (size_t)row * kLogSize;
    if (row > 0 && getShort(r, 0) == 0) {
      decision(kind, c, row - 1); /* number of logs */
      break;
    }
    decision(kind, c, getShort(r, 2)); /* productNumber */
    for (size_t at = 8; at <= 72; at += 8) bits(kind, c, getDouble(r, at));
  }
}

static void buckingCases(long cases) {
  SequentialFn sequential = (SequentialFn)lookup("PHVsDll");
  OptimisedFn optimised = (OptimisedFn)lookup("PHVoDll");
  if (!sequential && !optimised) return;
  static double productStore[kMaxProducts * kProductSize / sizeof(double)];
  static double logStore[kLogRows * kLogSize / sizeof(double)];
  unsigned char *products = (unsigned char *)productStore, *logs = (unsigned char *)logStore;
  for (long c = 0; c < cases; ++c) {
    Model m;
    randomModel(&m);
    /* A tapering profile, so that the stem yields logs. */
    m.terms = 2;
    m.coefs[0] = between(1.05, 1.25);
    m.exps[1] = 1;
    m.coefs[1] = -between(0.6, 1.0);
    m.exps[2] = between(2, 6);
    m.coefs[2] = m.coefs[0] + m.coefs[1] > 0 ? -(m.coefs[0] + m.coefs[1]) : 0;
    const int count = 1 + below(3);
    for (int p = 0; p < count; ++p) randomProduct(products + (size_t)p * kProductSize);
    const double stump = between(0, 0.5), trim = below(2) ? 0 : between(0, 0.2);
    const double topLimit = below(3) ? 999 : between(m.height / 2, m.height);
    const double heightLimit = between(m.height / 3, m.height);
    double t[8];
    if (sequential) {
      const double start = below(3) ? 0 : between(0, 3);
      const double r = sequential(m.dbh, m.height, m.coefs, m.exps, m.terms, start, topLimit, 0, 0,
                                  stump, trim, heightLimit, products, count, &t[0], &t[1], &t[2],
                                  &t[3], &t[4], &t[5], &t[6], &t[7], logs);
      reportBucking("PHVsDll", c, r, t, products, count, logs);
    }
    if (optimised) {
      const int objective = below(2);
      const double r = optimised(m.dbh, m.height, m.coefs, m.exps, m.terms, 0, topLimit, 0, 0,
                                 stump, trim, heightLimit, products, count, objective, &t[0], &t[1],
                                 &t[2], &t[3], &t[4], &t[5], &t[6], &t[7], logs);
      reportBucking("PHVoDll", c, r, t, products, count, logs);
    }
  }
}

/* One inventory of `trees` random trees over three models, bucked by value
 * with PHVbDll on two worker threads. Each tree is checked in this process
 * against PHVoDll called on its own ("PHVbDll-matches" 1 when every byte
 * agrees), and its results are printed for the comparison of the platforms. */
typedef int32_t (*InventoryFn)(const double *, const double *, const int32_t *, int64_t,
                               const xylotrak_taper_model *, int32_t, const ProductSpec *, int,
                               const xylotrak_inventory_params *, xylotrak_inventory_callback,
                               void *);

typedef struct {
  OptimisedFn optimised;
  const double *dbh, *height;
  const int32_t *model;
  const xylotrak_taper_model *models;
  const unsigned char *products;
  int count;
  const xylotrak_inventory_params *q;
  long seen;
} InventoryCheck;

static int32_t checkBlock(void *context, const xylotrak_inventory_block *block) {
  InventoryCheck *c = (InventoryCheck *)context;
  static double productStore[kMaxProducts * kProductSize / sizeof(double)];
  static double logStore[kLogRows * kLogSize / sizeof(double)];
  unsigned char *products = (unsigned char *)productStore, *logs = (unsigned char *)logStore;
  for (int32_t t = 0; t < block->treeCount; ++t) {
    const xylotrak_tree_result *r = &block->trees[t];
    const long i = (long)r->tree;
    const xylotrak_taper_model *m = &c->models[c->model[i]];
    memcpy(products, c->products, (size_t)c->count * kProductSize);
    memset(logs, 0, kLogRows * kLogSize);
    double totals[8];
    const double outcome =
        c->optimised(c->dbh[i], c->height[i], m->coefs, m->exps, m->termCount, c->q->startHeight,
                     c->q->topHeightLimit, 0, 0, c->q->stumpHeight, c->q->stumpTrim,
                     c->q->heightLimit, products, c->count, c->q->objective, &totals[0], &totals[1],
                     &totals[2], &totals[3], &totals[4], &totals[5], &totals[6], &totals[7], logs);
    int same = i == c->seen && r->status == XYLOTRAK_TREE_BUCKED &&
               memcmp(&outcome, &r->outcome, sizeof outcome) == 0 &&
               memcmp(totals, r->totals, sizeof totals) == 0 &&
               memcmp(products, block->products + (size_t)t * c->count,
                      (size_t)c->count * kProductSize) == 0 &&
               memcmp(logs, block->rows + r->firstRow, (size_t)(r->logCount + 1) * kLogSize) == 0;
    for (int row = r->logCount + 1; row < kLogRows && same; ++row) {
      static const unsigned char zero[kLogSize];
      same = memcmp(logs + (size_t)row * kLogSize, zero, kLogSize) == 0;
    }
    decision("PHVbDll-matches", i, same);
    /* The tree's whole table: its rows, then zeros. */
    memset(logs, 0, kLogRows * kLogSize);
    memcpy(logs, block->rows + r->firstRow, (size_t)(r->logCount + 1) * kLogSize);
    reportBucking("PHVbDll", i, r->outcome, r->totals,
                  (const unsigned char *)(block->products + (size_t)t * c->count), c->count, logs);
    ++c->seen;
  }
  return 0;
}

static void inventoryCase(long trees) {
  InventoryFn inventory = (InventoryFn)lookup("PHVbDll");
  OptimisedFn optimised = (OptimisedFn)lookup("PHVoDll");
  if (!inventory || !optimised || trees <= 0) return;
  Model shapes[3];
  xylotrak_taper_model models[3];
  for (int k = 0; k < 3; ++k) {
    randomModel(&shapes[k]);
    shapes[k].terms = 2;
    shapes[k].coefs[0] = between(1.05, 1.25);
    shapes[k].exps[1] = 1;
    shapes[k].coefs[1] = -between(0.6, 1.0);
    shapes[k].exps[2] = between(2, 6);
    shapes[k].coefs[2] = -(shapes[k].coefs[0] + shapes[k].coefs[1]);
    models[k].coefs = shapes[k].coefs;
    models[k].exps = shapes[k].exps;
    models[k].termCount = shapes[k].terms;
    models[k].reserved0 = 0;
  }
  static double productStore[kMaxProducts * kProductSize / sizeof(double)];
  unsigned char *products = (unsigned char *)productStore;
  const int count = 3;
  for (int p = 0; p < count; ++p) randomProduct(products + (size_t)p * kProductSize);
  double *dbh = (double *)malloc((size_t)trees * sizeof *dbh);
  double *height = (double *)malloc((size_t)trees * sizeof *height);
  int32_t *model = (int32_t *)malloc((size_t)trees * sizeof *model);
  if (!dbh || !height || !model) {
    fprintf(stderr, "out of memory\n");
    exit(1);
  }
  for (long i = 0; i < trees; ++i) {
    dbh[i] = between(10, 70);
    height[i] = between(8, 40);
    model[i] = below(3);
  }
  xylotrak_inventory_params q;
  memset(&q, 0, sizeof q);
  q.topHeightLimit = 999;
  q.stumpHeight = 0.3;
  q.stumpTrim = 0.05;
  q.heightLimit = 999;
  q.method = XYLOTRAK_METHOD_OPTIMISED;
  q.threads = 2;
  InventoryCheck c = {optimised, dbh, height, model, models, products, count, &q, 0};
  const int32_t result = inventory(dbh, height, model, trees, models, 3,
                                   (const ProductSpec *)products, count, &q, checkBlock, &c);
  decision("PHVbDll-result", 0, result);
  decision("PHVbDll-trees", 0, c.seen);
  free(dbh);
  free(height);
  free(model);
}

/* ------------------------------------------------------------------------ */
/* Price matrices on measured stems, and .hpr files with their audit.        */
/* ------------------------------------------------------------------------ */

typedef int32_t (*MatrixBuckFn)(const xylotrak_measured_stem *, const xylotrak_matrix_product *,
                                int, const xylotrak_matrix_params *, xylotrak_matrix_log *, int32_t,
                                int32_t *, double *);
typedef int32_t (*HprOpenFn)(const char *, xylotrak_hpr **, xylotrak_char16 *, int32_t);
typedef void (*HprCloseFn)(xylotrak_hpr *);
typedef int64_t (*HprRowsFn)(const xylotrak_hpr *, int);
typedef int32_t (*HprRowFn)(const xylotrak_hpr *, int, int64_t, void *, xylotrak_char16 *, int32_t);
typedef int32_t (*HprAuditFn)(xylotrak_hpr *, int32_t, xylotrak_audit_totals *);

static void reportMatrixLog(const char *kind, long item, const xylotrak_matrix_log *l) {
  decision(kind, item, l->product);
  decision(kind, item, l->diameterClass);
  decision(kind, item, l->lengthClass);
  decision(kind, item, l->status);
  bits(kind, item, l->startCm);
  bits(kind, item, l->lengthCm);
  bits(kind, item, l->classDiameterMm);
  bits(kind, item, l->diameterClassMm);
  bits(kind, item, l->lengthClassCm);
  bits(kind, item, l->volume);
  bits(kind, item, l->value);
}

/* A random measured stem (every 10 cm, tapering with noise, bark and grade
 * zones now and then) bucked against one to three random matrix products,
 * sequentially and by the exact optimiser. */
static void matrixCases(long cases) {
  MatrixBuckFn buck = (MatrixBuckFn)lookup("PHMbDll");
  if (!buck) return;
  enum { kPoints = 160, kLogs = 64 };
  static double positions[kPoints], diameters[kPoints], barkAt[4], bark[4], gradeAt[3];
  static int32_t grades[3], permitted[2];
  static double dLimits[3][4], lLimits[3][4], prices[3][16];
  static int8_t cells[3][16];
  static xylotrak_matrix_log logs[kLogs];
  for (long c = 0; c < cases; ++c) {
    const int points = 30 + below(kPoints - 30);
    const double butt = between(150, 450), slope = between(0.1, 0.3);
    for (int i = 0; i < points; ++i) {
      positions[i] = 10.0 * i;
      const double d = butt - slope * positions[i] + between(-3, 3);
      diameters[i] = d > 0 ? d : 0;
    }
    xylotrak_measured_stem stem;
    memset(&stem, 0, sizeof stem);
    stem.positions = positions;
    stem.diameters = diameters;
    stem.pointCount = points;
    if (below(4) != 0) {
      stem.barkCount = 1 + below(4);
      for (int i = 0; i < stem.barkCount; ++i) {
        barkAt[i] = positions[points - 1] * i / 4.0;
        bark[i] = between(4, 20);
      }
      stem.barkPositions = barkAt;
      stem.barkThickness = bark;
    }
    if (below(2) != 0) {
      stem.gradeCount = 1 + below(3);
      for (int i = 0; i < stem.gradeCount; ++i) {
        gradeAt[i] = positions[points - 1] * i / 3.0;
        grades[i] = 1 + below(3);
      }
      stem.gradeStarts = gradeAt;
      stem.grades = grades;
    }
    xylotrak_matrix_product products[3];
    const int count = 1 + below(3);
    for (int p = 0; p < count; ++p) {
      xylotrak_matrix_product *m = &products[p];
      memset(m, 0, sizeof *m);
      m->diameterClassCount = 1 + below(4);
      m->lengthClassCount = 1 + below(4);
      double d = between(50, 150), l = between(200, 350);
      for (int k = 0; k < m->diameterClassCount; ++k, d += between(20, 80)) dLimits[p][k] = d;
      for (int k = 0; k < m->lengthClassCount; ++k, l += between(20, 80)) lLimits[p][k] = l;
      m->diameterMax = d;
      m->lengthMax = l;
      for (int k = 0; k < m->diameterClassCount * m->lengthClassCount; ++k) {
        prices[p][k] = between(5, 700);
        cells[p][k] = (int8_t)(below(5) == 0 ? below(3) : XYLOTRAK_CELL_OPEN);
      }
      m->diameterLimits = dLimits[p];
      m->lengthLimits = lLimits[p];
      m->prices = prices[p];
      m->cells = cells[p];
      if (below(3) == 0) {
        permitted[0] = 1;
        permitted[1] = 2;
        m->grades = permitted;
        m->gradeCount = 1 + below(2);
      }
      m->diameterPosition = (int16_t)below(3);
      m->priceBasis = (int16_t)below(2);
      m->volumeRule = (int16_t)below(3);
      m->volumeLength = (int16_t)below(3);
      m->diameterUnderBark = (int16_t)(stem.barkCount > 0 ? below(2) : 0);
      m->volumeUnderBark = (int16_t)(stem.barkCount > 0 ? below(2) : 0);
    }
    for (int method = XYLOTRAK_MATRIX_SEQUENTIAL; method <= XYLOTRAK_MATRIX_EXACT; ++method) {
      const char *kind = method == XYLOTRAK_MATRIX_EXACT ? "PHMbDll-exact" : "PHMbDll-seq";
      xylotrak_matrix_params q;
      memset(&q, 0, sizeof q);
      q.startCm = (double)(10 * below(3));
      q.method = method;
      q.resolutionCm = method == XYLOTRAK_MATRIX_EXACT ? 1 + below(10) : 10;
      q.flags = below(2) ? XYLOTRAK_BUCK_HAND_CELLS : 0;
      int32_t n = 0;
      double value = 0;
      const int32_t rc = buck(&stem, products, count, &q, logs, kLogs, &n, &value);
      decision(kind, c, rc);
      decision(kind, c, n);
      bits(kind, c, value);
      for (int32_t k = 0; rc == XYLOTRAK_MATRIX_OK && k < n; ++k)
        reportMatrixLog(kind, c, &logs[k]);
    }
  }
}

/* The fixture `name` in `dir` read and audited on a 1 cm grid: every table's
 * rows, numbers as bits. */
static void hprCase(const char *dir, const char *name, long item) {
  HprOpenFn open = (HprOpenFn)lookup("HPRoDll");
  HprCloseFn close = (HprCloseFn)lookup("HPRcDll");
  HprRowsFn rows = (HprRowsFn)lookup("HPRnDll");
  HprRowFn row = (HprRowFn)lookup("HPRrDll");
  HprAuditFn audit = (HprAuditFn)lookup("HPRaDll");
  if (!open || !close || !rows || !row || !audit) return;
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", dir, name);
  xylotrak_hpr *file = NULL;
  decision("HPRoDll", item, open(path, &file, NULL, 0));
  if (file == NULL) return;
  xylotrak_audit_totals totals;
  decision("HPRaDll", item, audit(file, 1, &totals));
  for (int table = XYLOTRAK_HPR_SPECIES; table <= XYLOTRAK_HPR_AUDIT_LOGS; ++table)
    decision("HPRnDll", item, (long)rows(file, table));
  for (int64_t i = 0; i < rows(file, XYLOTRAK_HPR_STEMS); ++i) {
    xylotrak_hpr_stem s;
    row(file, XYLOTRAK_HPR_STEMS, i, &s, NULL, 0);
    decision("HPR-stem", item, (long)s.key);
    decision("HPR-stem", item, s.stem.pointCount);
    decision("HPR-stem", item, s.stem.barkCount);
    for (int32_t k = 0; k < s.stem.pointCount; ++k) bits("HPR-stem", item, s.stem.diameters[k]);
    for (int32_t k = 0; k < s.stem.barkCount; ++k) bits("HPR-stem", item, s.stem.barkThickness[k]);
  }
  for (int64_t i = 0; i < rows(file, XYLOTRAK_HPR_LOGS); ++i) {
    xylotrak_hpr_log l;
    row(file, XYLOTRAK_HPR_LOGS, i, &l, NULL, 0);
    decision("HPR-log", item, (long)l.productKey);
    decision("HPR-log", item, l.product);
    bits("HPR-log", item, l.startCm);
    bits("HPR-log", item, l.lengthCm);
    for (int k = 0; k < 6; ++k) bits("HPR-log", item, l.diameters[k]);
    for (int k = 0; k < 3; ++k) bits("HPR-log", item, l.volumes[k]);
  }
  for (int64_t i = 0; i < rows(file, XYLOTRAK_HPR_UNSUPPORTED); ++i) {
    xylotrak_hpr_note n;
    /* The text's length in UTF-16 units and its units summed. */
    xylotrak_char16 text[512];
    const int32_t len = row(file, XYLOTRAK_HPR_UNSUPPORTED, i, &n, text, 512);
    long sum = 0;
    for (int32_t k = 0; k < len && k < 511; ++k) sum += (long)text[k];
    decision("HPR-note", item, n.line);
    decision("HPR-note", item, n.count);
    decision("HPR-note", item, len);
    decision("HPR-note", item, sum);
  }
  bits("HPRaDll-totals", item, totals.actualValue);
  bits("HPRaDll-totals", item, totals.actualValueModel);
  bits("HPRaDll-totals", item, totals.optimalValue);
  bits("HPRaDll-totals", item, totals.actualValueOptimised);
  decision("HPRaDll-totals", item, (long)totals.stems);
  decision("HPRaDll-totals", item, (long)totals.stemsOptimised);
  for (int64_t i = 0; i < rows(file, XYLOTRAK_HPR_AUDIT_STEMS); ++i) {
    xylotrak_audit_stem a;
    row(file, XYLOTRAK_HPR_AUDIT_STEMS, i, &a, NULL, 0);
    decision("HPRaDll-stem", item, a.status);
    decision("HPRaDll-stem", item, a.actualLogCount);
    decision("HPRaDll-stem", item, a.optimalLogCount);
    bits("HPRaDll-stem", item, a.actualValue);
    bits("HPRaDll-stem", item, a.actualValueModel);
    bits("HPRaDll-stem", item, a.optimalValue);
    bits("HPRaDll-stem", item, a.gain);
  }
  for (int64_t i = 0; i < rows(file, XYLOTRAK_HPR_AUDIT_LOGS); ++i) {
    xylotrak_audit_log a;
    row(file, XYLOTRAK_HPR_AUDIT_LOGS, i, &a, NULL, 0);
    decision("HPRaDll-log", item, a.optimal);
    decision("HPRaDll-log", item, (long)a.productKey);
    bits("HPRaDll-log", item, a.fileVolume);
    bits("HPRaDll-log", item, a.fileValue);
    reportMatrixLog("HPRaDll-log", item, &a.log);
  }
  close(file);
}

static void hprCases(const char *dir) {
  static const char *const names[] = {"small.hpr", "schema.hpr", "unsupported.hpr"};
  for (long i = 0; i < 3; ++i) hprCase(dir, names[i], i);
}

int main(int argc, char **argv) {
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: parity_probe SEED TAPER_CASES BUCKING_CASES [HPR_FIXTURE_DIR]\n");
    return 2;
  }
  state = strtoull(argv[1], NULL, 10);
  const long taper = strtol(argv[2], NULL, 10), bucking = strtol(argv[3], NULL, 10);
  taperCases(taper);
  formulaCases(taper);
  buckingCases(bucking);
  inventoryCase(bucking);
  matrixCases(bucking);
  if (argc == 5) hprCases(argv[4]);
  return fflush(stdout) == 0 ? 0 : 1;
}
