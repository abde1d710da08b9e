#!/usr/bin/python3
"""Writes the seed corpus of the fuzz harnesses into fuzz/corpus/<harness>/ (and the exact
harness's slow seeds into fuzz/corpus/exact_fuzz_shapes/).

Each seed is a small, meaningful host call encoded in the input format that
fuzz::Reader (fuzz/fuzz_support.h) decodes front to back. Run it again after
changing that format or the order in which a harness reads its input.
"""
import math
import os
import struct
import sys

NAN = float("nan")
INF = float("inf")
DBL_MAX = sys.float_info.max

# The special values of Reader::real, by tag byte. NaN is matched by sign.
SPECIAL = [0.0, -0.0, NAN, -NAN, INF, -INF, DBL_MAX, -DBL_MAX, 1e300, -1e300,
           sys.float_info.min, 5e-324, -5e-324, 999.0, -1.0, 1e-300]
NAMED_CODES = [0, 1, 2, 3, 4, 5, 99, -1]  # Reader::code, tags 0..7


def real(x):
    """A double: its special tag when it has one, else its eight raw bytes."""
    for tag, s in enumerate(SPECIAL):
        if math.isnan(x) and math.isnan(s) and math.copysign(1, x) == math.copysign(1, s):
            return bytes([tag])
        if not math.isnan(x) and x == s and math.copysign(1, x) == math.copysign(1, s):
            return bytes([tag])
    return bytes([16]) + struct.pack("<d", x)


def code(v):
    if v in NAMED_CODES:
        return bytes([NAMED_CODES.index(v)])
    return bytes([0xF0]) + struct.pack("<h", v)


def code_arg(v, high=0):
    return code(v) + struct.pack("<H", high)


def count(v):
    """An int argument; only its low 16 bits are read (65537 reads as 1)."""
    return struct.pack("<I", v & 0xFFFFFFFF)


def byte(v):
    return bytes([v])


CONE = dict(coefs=[1.0, -1.0], exps=[0.0, 1.0], terms=1)
# A three-term profile that narrows like a real stem.
SPRUCE = dict(coefs=[1.2, -0.9, 0.3, -0.6], exps=[0.0, 1.0, 3.0, 8.0], terms=3)
# The benchmarks' stem profile, five power terms (bench/bucking_cases.h).
BENCH = dict(coefs=[1.15, -0.6, 0.9, -1.6, 0.8, -0.65], exps=[0.0, 0.5, 1.0, 2.0, 3.0, 5.0],
             terms=5)
# Two power terms, for the optimised search's smaller models.
BIRCH = dict(coefs=[1.2, -1.0, -0.2], exps=[0.0, 1.0, 6.0], terms=2)


def model(dbh, height, shape, max_terms, terms=None):
    """dbh, totalHeight, termCount and the arrays sized as the harness sizes them."""
    terms = shape["terms"] if terms is None else terms
    low = terms & 0xFFFF
    low = low - 0x10000 if low >= 0x8000 else low
    if low > max_terms:
        low %= max_terms + 1
    entries = max(low, 0) + 1
    coefs = (shape["coefs"] + [0.0] * entries)[:entries]
    exps = (shape["exps"] + [0.0] * entries)[:entries]
    return (real(dbh) + real(height) + count(terms) + b"".join(map(real, coefs)) +
            b"".join(map(real, exps)))


def taper(dbh, height, shape, h, target, vlimits, climits, terms=None):
    return (model(dbh, height, shape, 8, terms) + real(h) + real(target) +
            b"".join(map(real, vlimits)) + b"".join(map(real, climits)))


def product(min_top=10.0, min_len=2.0, max_len=4.0, price=100.0, basis=0, position=0,
            rule=0, loss=0.0, trim=0.0, max_top=999.0, min_base=0.0, max_base=999.0):
    return (real(min_top) + real(max_top) + real(min_base) + real(max_base) + real(min_len) +
            real(max_len) + real(price) + code(basis) + code(position) + code(rule) +
            real(loss) + real(trim))


def bucking(dbh, height, shape, products, start=0.0, top_limit=999.0, stump=0.3, stump_trim=0.0,
            height_limit=999.0, product_count=None, max_products=8, max_terms=4, extra=b"",
            tail=b""):
    n = len(products) if product_count is None else product_count
    return (model(dbh, height, shape, max_terms) + real(start) + real(top_limit) + real(0.0) + real(0.0) +
            real(stump) + real(stump_trim) + real(height_limit) +
            byte((len(products) - 1) % max_products) + count(n) + extra + b"".join(products) + tail)


def optimised(dbh, height, shape, products, objective=0, fault=255, squeeze=0, **kw):
    """An optimised_fuzz input; after the table the byte that picks the squeezed cache's
    memory, 1536 << squeeze bytes (0 to 11)."""
    return bucking(dbh, height, shape, products, max_products=4, max_terms=2,
                   extra=code_arg(objective) + byte(fault), tail=byte(squeeze), **kw)


def exact(dbh, height, shape, products, objective=0, fault=255, tiny_cache=0, squeeze=0, **kw):
    """An exact_fuzz input: as optimised, then the byte that picks the tiny cache; after the
    table the byte that picks the squeezed cache's memory, 1536 << squeeze bytes (0 to 11)."""
    return bucking(dbh, height, shape, products, max_products=100, max_terms=5,
                   extra=code_arg(objective) + byte(fault) + byte(tiny_cache), tail=byte(squeeze),
                   **kw)


def inventory(shape, products, trees, models=(), method=0, objective=0, flag=0, threads=1,
              stop_after=0, fault=255, **kw):
    """An inventory_fuzz input: model 0 and the call of the sequential harness (at most two
    power terms, four products), then the other models (shape, termCount), the trees (dbh,
    height, model index; an index of None goes past the table as a 32-bit number), the
    method, objective, flag, threads, when to stop and the failing allocation."""
    head = bucking(trees[0][0] if trees else 30.0, trees[0][1] if trees else 20.0, shape, [],
                   max_products=4, max_terms=2, **kw)
    extra = byte(len(models) % 3)
    for other, terms in models:
        extra += count(terms)
        low = max(terms & 0xFFFF if (terms & 0xFFFF) < 0x8000 else -1, 0)
        low = min(low, 2)
        extra += b"".join(map(real, (other["coefs"] + [0.0] * 3)[:low + 1]))
        extra += b"".join(map(real, (other["exps"] + [0.0] * 3)[:low + 1]))
    extra += byte(len(trees)) + b"".join(real(t[0]) for t in trees)
    extra += b"".join(real(t[1]) for t in trees)
    for t in trees:
        extra += byte(0xF0) + struct.pack("<I", 0x7FFFFFFF) if t[2] is None else byte(t[2])
    extra += byte(method) + code_arg(objective)
    if method == 1:
        extra += byte(flag)
    extra += byte(threads - 1) + byte(stop_after) + byte(fault)
    table = (len(products) - 1) % 4
    # The table size byte and productCount sit at the end of the call, before `extra`.
    call = head[:-5] + byte(table) + count(kw.get("product_count", len(products)))
    return call + extra + b"".join(products)


def seeds():
    s = {}
    s["taper_fuzz"] = {
        "cone": taper(30, 20, CONE, 10, 7, [0.3, 0, 0, 7, 2.5], [0.3, 0, 0, 7, 2.5]),
        "spruce": taper(32, 30, SPRUCE, 1.3, 12, [0.3, 25, 60, 0, 0], [0, 0, 999, 7, 4]),
        "negative_terms": taper(30, 20, CONE, 5, 10, [1, 0, 0, 0, 0], [1, 0, 0, 0, 3],
                                terms=0xFFFF),
        "terms_65537": taper(30, 20, CONE, 5, 10, [0, 0, 0, 0, 0], [0, 0, 0, 0, 1], terms=65537),
        "infinite_stem": taper(30, INF, CONE, 5, 10, [1, 0, 0, 0, 0], [1, 0, 0, 0, 1]),
        # inf / inf logs: once a negative count from an undefined conversion.
        "infinite_logs": taper(30, INF, CONE, 5, 10, [1, 0, 0, 0, INF], [1, 0, 0, 0, INF]),
        "nan_inputs": taper(NAN, 20, CONE, NAN, NAN, [NAN] * 5, [NAN] * 5),
        "huge": taper(DBL_MAX, 1e300, SPRUCE, 1e300, -1e300, [1e-300, 1e300, 0, 0, 1e-300],
                      [1e-300, DBL_MAX, 0, 0, 5e-324]),
    }
    s["sequential_fuzz"] = {
        # 4 m logs with a 0.1 m trim, the last shortened to the 10 cm top.
        "cone_one_product": bucking(40, 20, CONE, [product(trim=0.1)], stump=0.1),
        "thick_then_thin": bucking(40, 20, CONE, [product(20, 2, 4), product(8, 1, 3, 50)]),
        "height_rule": bucking(40, 20, CONE, [product(rule=1), product(position=2, basis=2)],
                               height_limit=2.8),
        "start_height": bucking(35, 25, SPRUCE, [product(loss=0.1, basis=1)], start=3),
        # Logs of 0.1 m on a 20 m stem: the table fills at 99 logs.
        "table_full": bucking(40, 20, CONE, [product(1, 0.05, 0.1)]),
        "negative_lengths": bucking(40, 20, CONE, [product(10, -1, -2), product(0, 0, 0)]),
        "empty_table": bucking(40, 20, CONE, [product()], product_count=0),
        "negative_count": bucking(40, 20, CONE, [product(), product()], product_count=0xFFFF),
        "nan_product": bucking(40, 20, CONE, [product(NAN, NAN, INF, -INF, 7, 99), product()]),
        "odd_codes": bucking(40, 20, CONE, [product(basis=-32768, position=32767, rule=-1),
                                            product(basis=3, position=99, rule=2)]),
    }
    two = [product(10, 3, 3, 5, 2), product(15, 4, 4, 100, 0)]
    # Four products of about 1 m: 4^7 sequences by generation 8, past the limit.
    four = [product(5, 1 + 0.01 * i, 1 + 0.01 * i, 1 + i, 2) for i in range(4)]
    s["optimised_fuzz"] = {
        "worked_example": optimised(30, 20, CONE, two, stump=0.5),
        "volume_objective": optimised(30, 20, CONE, two, objective=1, stump=0.5),
        "no_objective": optimised(30, 20, CONE, two, objective=2, stump=0.5),
        "gives_up": optimised(30, 20, CONE, four, stump=0.5),
        # The same with the cache held to 6 kB, its first tables: it replaces from the start.
        "gives_up_squeezed": optimised(30, 20, CONE, four, stump=0.5, squeeze=2),
        "first_allocation_fails": optimised(30, 20, CONE, two, fault=0, stump=0.5),
        "third_allocation_fails": optimised(30, 20, CONE, two, fault=2, stump=0.5),
        "chain_of_short_logs": optimised(40, 20, CONE, [product(1, 0.05, 0.1, 1, 1)]),
        "positions": optimised(35, 25, BIRCH, [product(position=3, basis=2, price=5),
                                                product(rule=1, loss=1), product(min_top=0)],
                               height_limit=12),
        "nan_product": optimised(30, 20, CONE, [product(NAN, NAN, INF, -INF, 7, 99)]),
    }
    # Four products of 2 to 3.5 m, of two price bases, on a three-term stem.
    four_bases = [product(8 + 2 * i, 2 + 0.5 * i, 2 + 0.5 * i, 20 + 15 * i, i % 2)
                  for i in range(4)]
    # The benchmarks' products: 5% loss, a 10 cm trim.
    def bench_product(min_top, min_len, max_len, price, basis):
        return product(min_top, min_len, max_len, price, basis, loss=0.05, trim=0.1)

    def fine_lengths(n, step):
        return [bench_product(8, 1.1 + step * i, 1.1 + step * i, 40 + 0.4 * i, 0) for i in range(n)]

    ranges = [bench_product(30, 3.0, 5.2, 180, 0), bench_product(22, 2.8, 4.6, 110, 0),
              bench_product(16, 2.5, 4.0, 75, 0), bench_product(11, 2.2, 3.4, 45, 0),
              bench_product(8, 1.9, 2.8, 12, 1), bench_product(5, 1.2, 1.7, 6, 1)]
    s["exact_fuzz"] = {
        "worked_example": exact(30, 20, CONE, two, stump=0.5),
        "volume_objective": exact(30, 20, CONE, two, objective=1, stump=0.5, tiny_cache=1),
        "no_objective": exact(30, 20, CONE, two, objective=2, stump=0.5),
        # The first allocation is the evaluation cache's, the second the search's.
        "cache_allocation_fails": exact(30, 20, CONE, two, fault=0, stump=0.5),
        "search_allocation_fails": exact(30, 20, CONE, two, fault=1, stump=0.5),
        # Logs of 0.05 to 0.1 m on a 20 m stem: the winner stops at 99 logs.
        "chain_of_short_logs": exact(40, 20, CONE, [product(1, 0.05, 0.1, 1, 1)]),
        "nan_product": exact(30, 20, CONE, [product(NAN, NAN, INF, -INF, 7, 99), product()]),
        "four_products": exact(35, 30, SPRUCE, four_bases, stump=0.3, stump_trim=0.05,
                               tiny_cache=1),
        # The same with the cache bounded to 6 kB: its first tables, which then replace.
        "four_products_squeezed": exact(35, 30, SPRUCE, four_bases, stump=0.3, stump_trim=0.05,
                                        squeeze=2),
    }
    # The benchmarks' shapes whose log ends fall on thousands of distinct heights, each
    # squeezed into a fraction of the memory it would take: 50 and 100 fixed lengths in 3 and
    # 1.5 cm steps on a 31 m stem (100 on a 22 m one, so that a replay stays short), the 50
    # on a 40 m stem, and six ranges of lengths on the 31 m stem; the 50 and the six also
    # with a later doubling of the cache's tables made to fail (allocations 19 and 27 of
    # those calls): the call goes on with the tables it has. Replayed by ctest
    # (FuzzSeeds.exact_shapes) but kept out of the corpus that libFuzzer mutates: under its
    # instrumentation such inputs, or a taller stem made of them, take up to minutes each.
    s["exact_fuzz_shapes"] = {
        "length_ranges": exact(35, 31, BENCH, ranges, stump_trim=0.1, squeeze=3),
        "length_ranges_growth_fails": exact(35, 31, BENCH, ranges, stump_trim=0.1, fault=26,
                                            squeeze=3),
        "fine_lengths_50": exact(35, 31, BENCH, fine_lengths(50, 0.03), stump_trim=0.1,
                                 squeeze=8),
        "fine_lengths_100": exact(30, 22, BENCH, fine_lengths(100, 0.015), stump_trim=0.1,
                                  squeeze=8),
        "fine_lengths_40m": exact(48, 40, BENCH, fine_lengths(50, 0.03), stump_trim=0.1,
                                  squeeze=9),
        "fine_lengths_50_growth_fails": exact(35, 31, BENCH, fine_lengths(50, 0.03),
                                              stump_trim=0.1, fault=18, squeeze=8),
    }
    forest = [(30.0, 20.0, 0), (42.0, 31.0, 1), (18.0, 14.0, 2), (NAN, 20.0, 0),
              (35.0, 25.0, None), (25.0, INF, 1), (50.0, 36.0, 1), (12.0, 9.0, 0)]
    s["inventory_fuzz"] = {
        "sequential": inventory(CONE, two, forest, models=[(BIRCH, 2), (CONE, 0x10001)]),
        "value_two_threads": inventory(CONE, two, forest, models=[(BIRCH, 2)], method=1,
                                       threads=2, stump=0.5),
        "gives_up_then_exact": inventory(CONE, four, forest[:3], method=1, flag=1, threads=3,
                                         stump=0.5),
        "exact_by_volume": inventory(BIRCH, four_bases, forest, models=[(CONE, 1)], method=2,
                                     objective=1, threads=2),
        "stops_after_one_block": inventory(CONE, two, forest, method=0, threads=2,
                                           stop_after=1),
        "first_allocation_fails": inventory(CONE, two, forest, method=1, fault=0),
        "search_allocation_fails": inventory(CONE, two, forest[:2], method=1, fault=3),
        "nan_model": inventory(CONE, two, forest, models=[(dict(coefs=[NAN, 1.0], exps=[0.0, 1.0],
                                                                terms=1), 1)]),
        "no_trees": inventory(CONE, two, [], method=2),
        "empty_table": inventory(CONE, two, forest, product_count=0x10000),
    }
    s["formulas_fuzz"] = {
        "logs": real(30) + real(25) + real(20) + real(4),
        "zeros": real(0) + real(-0.0) + real(0) + real(0),
        "negative": real(-1) + real(25) + real(20) + real(4),
        "nan": real(NAN) + real(25) + real(NAN) + real(4),
        "infinite": real(INF) + real(0) + real(INF) + real(1e300),
    }

    def plot(area, l1, l2, s1, s2, correction, rect, scale, unit, nulls=0):
        return (real(area) + real(l1) + real(l2) + real(s1) + real(s2) + code_arg(correction) +
                code_arg(rect) + code_arg(scale) + code_arg(unit) + byte(nulls))

    s["plot_area_fuzz"] = {
        "circle_from_area": plot(0.05, 0, 0, 10, 5, 1, 0, 0, 1),
        "circle_from_radius": plot(0, 12.62, 0, 0, 0, 0, 0, 0, 0),
        "rectangle_side": plot(500, 20, 0, 30, 20, 1, 1, 5, 2),
        "rectangle_area": plot(0, -20, 25, -15, 95, 1, 1, 0, 0),
        "null_outputs": plot(1, 2, 3, 4, 5, 1, 1, 1, 1, nulls=5),
        "nan": plot(NAN, NAN, INF, NAN, -INF, 1, 1, 5, 1),
    }

    def stems(rows, exps, candidates=(), max_terms=8, fault=255, terms=None):
        """Rows of (dbh, height, h, d), the exponents, the candidates and the term cap."""
        n = len(rows)
        columns = b"".join(b"".join(real(r[k]) for r in rows) for k in range(4))
        low = len(exps) - 1 if terms is None else terms
        return (byte(n) + columns + count(low) + b"".join(map(real, exps)) +
                count(len(candidates)) + b"".join(map(real, candidates)) + count(max_terms) +
                byte(fault))

    cone_rows = [(30.0, 20.0, h, 30.0 * (1 - h / 20)) for h in (0.0, 1.3, 4.0, 9.5, 15.0, 19.0)]
    profile_rows = [(32.0 + k, 24.0, h, (32.0 + k) * (1.2 - 0.9 * (h / 24) - 0.3 * (h / 24) ** 6))
                    for k, h in enumerate((0.3, 1.3, 3.0, 6.0, 9.0, 12.0, 15.0, 18.0, 21.0, 23.5))]
    s["fitting_fuzz"] = {
        "cone": stems(cone_rows, [0.0, 1.0]),
        "profile_select": stems(profile_rows, [0.0, 1.0, 6.0], candidates=(1.0, 6.0, 2.0, 0.5),
                                max_terms=4),
        "default_candidates": stems(profile_rows, [0.0, 1.0, 2.0, 3.0]),
        "duplicate_exponents": stems(cone_rows, [0.0, 1.0, 1.0]),
        "too_few_rows": stems(cone_rows[:2], [0.0, 1.0, 2.0]),
        "bad_rows": stems([(NAN, 20.0, 1.0, 20.0), (30.0, 20.0, 25.0, 1.0),
                           (-1.0, 20.0, 1.0, 20.0)] + cone_rows, [0.0, 1.0]),
        "negative_term_count": stems(cone_rows, [0.0], terms=-1),
        "memory_fails": stems(profile_rows, [0.0, 1.0, 6.0], fault=3),
    }

    def stats_input(rows, trees, exps, flags=0, candidates=(), max_terms=4, random=(0,),
                    record=None, tree=(30.0, 24.0), kind=0, level=0.95, higher=128, at=6.0,
                    limits=(0.0, 0.0, 0.0, 0.0, 0.0), measured=(), fault=255, reml_limit=4):
        """taper_stats_fuzz: rows of (dbh, height, h, d) with their trees (0..5), the exponents,
        the fit's flags (0 or 1), the selection's candidates and cap, the random terms, the
        REML search's limit (25 << (limit % 5) iterations), the
        record (None: the fit made; else (coefs, exps, cov, random, rcov, sigma2, df)), the
        tree, interval kind and levels, a height, volume limits and measured pairs."""
        n = len(rows)
        columns = b"".join(b"".join(real(r[k]) for r in rows) for k in range(4))
        flag_tag = byte(0) if flags == 0 else byte(0x80)
        data = (byte(n) + columns + b"".join(byte(t) for t in trees) + count(len(exps) - 1) +
                b"".join(map(real, exps)) + flag_tag + byte(fault) + count(len(candidates)) +
                b"".join(map(real, candidates)) + count(max_terms) + count(len(random)) +
                b"".join(byte(t & 0xFF) for t in random) + byte(reml_limit))
        if record is None:
            data += byte(0)
        else:
            coefs, rexps, cov, rterms, rcov, sigma2, df = record
            data += (byte(0xC0) + count(len(coefs) - 1) + b"".join(map(real, coefs)) +
                     b"".join(map(real, rexps)) + b"".join(map(real, cov)) +
                     count(len(rterms)) + b"".join(byte(t & 0xFF) for t in rterms) +
                     b"".join(map(real, rcov)) + real(sigma2) + real(df))
        data += (real(tree[0]) + real(tree[1]) + code_arg(kind) + real(level) + byte(higher) +
                 real(at) + b"".join(map(real, limits)) + count(len(measured)) +
                 b"".join(real(h) for h, _ in measured) + b"".join(real(d) for _, d in measured))
        return data

    # Four trees of one profile, each with its own level and slope, measured at four heights
    # (the harness reads at most 16 rows).
    def mixed_rows(noise):
        rows, trees = [], []
        for t in range(4):
            dbh, height = 24.0 + 4 * t, 18.0 + 2 * t
            a, b = 1.1 + 0.02 * ((t * 5) % 3 - 1), -1.0 + 0.03 * ((t * 7) % 4 - 1.5)
            for j, h in enumerate((0.3, 1.3, height / 2, 0.8 * height)):
                x = h / height
                wiggle = noise * (((t * 4 + j) * 37) % 11 - 5)
                rows.append((dbh, height, h, dbh * (a + b * x) * (1 + wiggle)))
                trees.append(t)
        return rows, trees

    mixed, mixed_trees = mixed_rows(0.004)
    still, still_trees = mixed_rows(0.0)
    cov2 = [1e-4, -5e-5, -5e-5, 1e-4]
    s["taper_stats_fuzz"] = {
        "reml_intercept_slope": stats_input(mixed, mixed_trees, [0.0, 1.0], random=(0, 1),
                                            measured=((2.0, 30.0), (8.0, 22.0))),
        # The search stopped after 50 iterations: not converged, outputs cleared.
        "reml_iteration_limit": stats_input(mixed, mixed_trees, [0.0, 1.0], random=(0, 1),
                                            reml_limit=1),
        "reml_intercept": stats_input(mixed, mixed_trees, [0.0, 1.0, 2.0], random=(0,), kind=1,
                                      limits=(0.3, 0.0, 0.0, 7.0, 2.5)),
        "tip_zero": stats_input(mixed, mixed_trees, [0.0, 1.0, 2.0], flags=1, random=(),
                                candidates=(1.0, 2.0, 3.0)),
        "no_noise": stats_input(still, still_trees, [0.0, 1.0], random=(0, 1), kind=1),
        "outlying": stats_input(mixed, mixed_trees, [0.0, 1.0], random=(0,),
                                measured=((5.0, 80.0),)),
        "record_from_input": stats_input(mixed[:3], mixed_trees[:3], [0.0, 1.0], random=(),
                                         record=([1.1, -1.0], [0.0, 1.0], cov2, [0], [2e-3],
                                                 1e-3, 0.0), kind=1, measured=((3.0, 25.0),)),
        "repeated_random_term": stats_input(mixed, mixed_trees, [0.0, 1.0], random=(1, 1)),
        # A least-squares fit calibrated from measurements: no random effects to predict
        # (Eigen was handed a solve of no columns).
        "least_squares_calibrated": stats_input(mixed, mixed_trees, [0.0, 1.0, 2.0], random=(),
                                                measured=((2.0, 30.0), (9.0, 21.0))),
        # Degrees of freedom far below 1: Student's quantile overflows (it was taken for
        # running out of memory).
        "tiny_degrees_of_freedom": stats_input(mixed[:3], mixed_trees[:3], [0.0, 1.0], random=(),
                                               record=([1.1, -1.0], [0.0, 1.0], cov2, [], [],
                                                       1e-3, 1e-200), level=0.2),
        # A profile near the largest doubles: the volume is reported as 0 with an infinite
        # upper end (the interval is ordered, though no section is empty).
        "overflowing_volume": stats_input(mixed[:3], mixed_trees[:3], [0.0], random=(),
                                          record=([3.7e304, -1.0], [0.0, 1.0], cov2, [], [],
                                                  1e-3, 0.0), limits=(-1.0, 0.0, 0.0, 0.0, 0.0)),
        # No spread at all: the interval is the curve, which PHDiDll's value missed by a
        # rounding (the interval did not hold its own value).
        "no_spread": stats_input(mixed[:3], mixed_trees[:3], [0.0], random=(),
                                 record=([1.25, -1.9, 2.2, -1.55], [0.0, 1.0, 2.0, 3.0],
                                         [0.0] * 16, [], [], 0.0, 0.0),
                                 kind=1, level=0.5, at=6.0),
        # Nearly equal exponents through the tip: a variance cancelled to a negative number.
        "ill_conditioned_tip_zero": stats_input(
            [(24, 18, 7.4000000000000004, 0), (24, 18, 0.98272678721293971, 0),
             (24, 18, 35.6, 1.0303654535744258), (24, 18, 35.6, 14),
             (28, 20.000007271766663, 0.98272678721293971, 14), (28, 20, 0, 1.0289158464942396),
             (28, 20, 0, 71), (28, 20.000000000000028, 0, 71), (32, 22, 0, 1.0289158464942396),
             (32, 22, 0, 0), (32, 22, 0, 0), (32, 22, 0.98344396124208444, 0), (36, 24, 0, 0),
             (36, 24, 0, 0), (36, 2.0837116269406775e-230, 0, 0), (36, 8, 0, 1.0303654535744258)],
            [0] * 16, [1.2000000000000002, 6.5125810635538262, 6.3088197146562912,
                       6.3000000000000007], flags=1, random=()),
        # A record naming a random term twice: the calibration refused it without clearing
        # its outputs.
        "refused_record_cleared": stats_input(mixed[:3], mixed_trees[:3], [0.0], random=(),
                                              record=([1.0], [0.0], [1e-4], [0, 0],
                                                      [1e-3, 0.0, 0.0, 1e-3], 5e-4, 0.0),
                                              measured=((3.0, 25.0),)),
        "memory_fails": stats_input(mixed, mixed_trees, [0.0, 1.0], random=(0, 1), fault=2,
                                    measured=((4.0, 20.0),)),
    }
    return s


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    for harness, files in seeds().items():
        folder = os.path.join(root, harness)
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    print("seeds written to", root)


if __name__ == "__main__":
    main()
