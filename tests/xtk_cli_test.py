#!/usr/bin/env python3
"""xtk driven as a user would: bad input, the SVG drawing, the batch files, the fits.

Usage: xtk_cli_test.py PATH_TO_XTK [Input|Svg|Batch|Exact|Fit]
"""
import csv
import io
import json
import math
import os
import pty
import random
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET
from fractions import Fraction

XTK = None
FIELDS = ["minTopDiam", "maxTopDiam", "minBaseDiam", "maxBaseDiam", "minLength", "maxLength",
          "unitPrice", "priceBasis", "logPosition", "heightRule", "lossFraction", "trimLength"]


def run(*args, cwd=None):
    return subprocess.run([XTK, *map(str, args)], capture_output=True, text=True, cwd=cwd)


def expanded(degree):
    """1.1 (1 - y) + 0.4 (1 - y)^degree multiplied out into powers of y: a smooth stem whose
    closed-form volume cancels for a high degree."""
    coefs = [0.0] * (degree + 1)
    coefs[0] += 1.1
    coefs[1] -= 1.1
    for k in range(degree + 1):
        coefs[k] += 0.4 * math.comb(degree, k) * (-1) ** k
    return coefs, list(range(degree + 1))


def exact_volume(dbh, height, coefs, exps):
    """The whole-stem volume of a model with whole exponents: the integral of the squared
    profile in rational arithmetic on the doubles given, rounded once at the end."""
    total = Fraction(0)
    for ci, ei in zip(coefs, exps):
        for cj, ej in zip(coefs, exps):
            total += Fraction(ci) * Fraction(cj) / (ei + ej + 1)
    return math.pi / 40000 * dbh * dbh * height * float(total)


# Models with the findings of the model check they have, in the order xtk lists them.
CHECKED_MODELS = [
    ("expanded degree 34", expanded(34), ["volume-ill-conditioned"]),
    ("bump", ([1, 0.5, -1.5], [0, 1, 2]), ["diameter-increases"]),  # widest at y = 1/6
    ("dip", ([1, -4, 3], [0, 1, 2]), ["negative-diameter"]),  # (1 - y)(1 - 3y)
    ("nonzero tip", ([1, -0.9], [0, 1]), ["nonzero-tip"]),
    ("bump and nonzero tip", ([1, -3, 3], [0, 1, 2]), ["diameter-increases", "nonzero-tip"]),
    ("exps[0] = 1", ([1, -1], [1, 2]), ["exp0-nonzero"]),
    ("cone", ([1, -1], [0, 1]), []),
    ("five terms", ([1.15, -0.6, 0.9, -1.6, 0.8, -0.65], [0, 0.5, 1, 2, 3, 5]), []),
]
MODELS = {name: model for name, model, _ in CHECKED_MODELS}


class XtkCase(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.dir = self._tmp.name
        self.assertEqual(run("demo", "--save-inputs", self.dir).returncode, 0)
        self.tree = self.path("demo-tree.json")
        self.products = self.path("demo-products.json")
        with open(self.products) as f:
            self.table = json.load(f)

    def tearDown(self):
        self._tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)
        return self.path(name)

    def expect_error(self, args, message, code=2):
        """One line on stderr matching `message`, nothing on stdout, exit code 2."""
        r = run(*args)
        self.assertEqual(r.returncode, code, r.stderr)
        self.assertEqual(r.stdout, "")
        lines = r.stderr.splitlines()
        self.assertEqual(len(lines), 1, r.stderr)
        self.assertRegex(lines[0], message)

    def buck_json(self, *extra, products=None, tree=None):
        r = run("buck", "--json", "--tree", tree or self.tree, "--products",
                products or self.products, *extra)
        self.assertEqual(r.returncode, 0, r.stderr)
        return json.loads(r.stdout)


class Input(XtkCase):
    def product_lines(self, table):
        # One product a line, so that product k sits on line k + 1.
        return "[\n" + ",\n".join(json.dumps(p) for p in table) + "\n]\n"

    def test_product_json_faults_name_file_line_and_field(self):
        def broken(k, change):
            table = json.loads(json.dumps(self.table))
            change(table[k])
            return self.write("p.json", self.product_lines(table))

        cases = [
            (1, lambda p: p.pop("trimLength"), r"missing field 'trimLength'"),
            (2, lambda p: p.update(minLength="3"),
             r"field 'minLength': expected a number, got string"),
            (3, lambda p: p.update(minLenght=3), r"unknown field 'minLenght'"),
            (0, lambda p: p.update(priceBasis=1.5),
             r"field 'priceBasis': not a whole number in -32768\.\.32767: 1\.5"),
            (2, lambda p: p.update(logPosition=40000),
             r"field 'logPosition': not a whole number in -32768\.\.32767: 40000"),
            (1, lambda p: p.update(heightRule=True),
             r"field 'heightRule': expected a number, got boolean"),
            (3, lambda p: p.update(name=["x"]), r"field 'name': expected a string, got array"),
        ]
        for k, change, message in cases:
            with self.subTest(message):
                path = broken(k, change)
                self.expect_error(["buck", "--tree", self.tree, "--products", path],
                                  r"^xtk: %s:%d: %s$" % (path, k + 2, message))

    def test_json_syntax_and_duplicate_keys(self):
        text = self.product_lines(self.table)
        path = self.write("p.json", text.replace('"sawlog",', '"sawlog"', 1))
        self.expect_error(["buck", "--tree", self.tree, "--products", path],
                          r"^xtk: %s:3: not valid JSON: " % path)
        path = self.write("p.json", text.replace('"minLength": 3.0,',
                                                 '"minLength": 3.0, "minLength": 4.0,', 1))
        self.expect_error(["buck", "--tree", self.tree, "--products", path],
                          r"^xtk: %s:2: field 'minLength' given twice$" % path)
        path = self.write("p.json", "[]")
        self.expect_error(["buck", "--tree", self.tree, "--products", path], r"no products$")

    def test_tree_json_faults(self):
        good = {"dbh": 30, "height": 24, "coefs": [1.1, -1.1], "exps": [0, 1]}
        cases = [({"height": "24"}, r":1: field 'height': expected a number, got string$"),
                 ({"coefs": [1, "x"]}, r":1: field 'coefs\[1\]': expected a number"),
                 ({"exps": [0]}, r":1: fields 'coefs' and 'exps': 2 coefficients but 1 exponents$"),
                 ({"dbh": 0}, r":1: field 'dbh': must be greater than 0$"),
                 ({"species": "pine"}, r":1: unknown field 'species'$")]
        for change, message in cases:
            with self.subTest(message):
                path = self.write("t.json", json.dumps({**good, **change}))
                self.expect_error(["taper", "--tree", path], r"^xtk: " + path + message)
        path = self.write("t.json", json.dumps({k: good[k] for k in ("dbh", "coefs", "exps")}))
        self.expect_error(["taper", "--tree", path], r"missing field 'height'$")

    def test_product_csv_faults_and_csv_equals_json(self):
        header = ["name"] + FIELDS
        rows = [[p["name"]] + [str(p[f]) for f in FIELDS] for p in self.table]

        def table_csv(head, body):
            out = io.StringIO()
            csv.writer(out, lineterminator="\n").writerows([head] + body)
            return self.write("p.csv", out.getvalue())

        # The same table as CSV, columns in another order, gives the same bucking.
        order = list(reversed(range(len(header))))
        path = table_csv([header[i] for i in order], [[r[i] for i in order] for r in rows])
        self.assertEqual(self.buck_json(products=path), self.buck_json())

        bad = [r[:] for r in rows]
        bad[1][FIELDS.index("minLength") + 1] = "3x"
        path = table_csv(header, bad)
        self.expect_error(["buck", "--tree", self.tree, "--products", path],
                          r"^xtk: %s:3: field 'minLength': not a number: \"3x\"$" % path)
        path = table_csv(header[:-1], [r[:-1] for r in rows])
        self.expect_error(["buck", "--tree", self.tree, "--products", path],
                          r"^xtk: %s:1: missing column 'trimLength'$" % path)
        path = table_csv(header + ["grade"], [r + ["A"] for r in rows])
        self.expect_error(["buck", "--tree", self.tree, "--products", path],
                          r"^xtk: %s:1: unknown column 'grade'$" % path)
        path = table_csv(header, rows[:2] + [rows[2][:-1]] + rows[3:])
        self.expect_error(["buck", "--tree", self.tree, "--products", path],
                          r"^xtk: %s:4: expected 13 cells, found 12$" % path)
        text = open(table_csv(header, rows)).read().splitlines()
        text[4] = '"pulp' + text[4][len("pulp"):]
        path = self.write("p.csv", "\n".join(text) + "\n")
        self.expect_error(["buck", "--tree", self.tree, "--products", path],
                          r"^xtk: %s:5: unterminated quote in cell 1$" % path)

    def test_option_faults(self):
        tree = ["--dbh", "30", "--height", "24", "--coefs", "1.1,-1.1", "--exps", "0,1"]
        self.expect_error(["taper", "--dbh", "3x"] + tree[2:],
                          r"^xtk: option --dbh: not a number: \"3x\"$")
        self.expect_error(["taper"] + tree[:6], r"^xtk: option --exps: required")
        self.expect_error(["taper"] + tree[:-1] + ["0,1,2"], r"2 coefficients but 3 exponents$")
        self.expect_error(["taper"] + tree + ["--at", "1.3,,5"], r"option --at: empty item")
        self.expect_error(["taper"] + tree + ["--tree", self.tree], r"option --tree: give either")
        self.expect_error(["taper"] + tree + ["--colour", "red"], r"^xtk: .*--colour")
        self.expect_error(["buck", "--tree", self.tree, "--products", self.products,
                           "--optimise", "price"], r"--optimise: expected value or volume")
        self.expect_error(["buck", "--tree", self.tree, "--products", self.path("none.json")],
                          r"none\.json: cannot read: No such file")
        self.expect_error(["formula", "smalian", "--d1", "30", "--d2", "-2", "--length", "4"],
                          r"^xtk: option --d2: must not be negative$")
        self.expect_error(["plot-area", "--area", "400", "--area-unit", "1.5"],
                          r"option --area-unit: not a whole number")
        self.expect_error([], r"subcommand is required")

    def test_tree_rules_are_the_same_for_options_files_and_inventories(self):
        """A fault in a tree reads alike from options, a tree file, a models file and an
        inventory row, each message at its own place."""
        good = {"dbh": 30, "height": 24, "coefs": [1.1, -1.1], "exps": [0, 1]}
        faults = [
            ({"dbh": 0}, 2, "field 'dbh'", "option --dbh", "must be greater than 0"),
            ({"height": -2}, 3, "field 'height'", "option --height", "must be greater than 0"),
            ({"exps": [0, 1, 2]}, 5, "fields 'coefs' and 'exps'", "options --coefs and --exps",
             "2 coefficients but 3 exponents"),
            ({"coefs": [0] * 32769, "exps": [0] * 32769}, 5, "field 'coefs'", "option --coefs",
             "more than 32767 terms"),
        ]

        def numbers(values, sep):
            return sep.join(map(str, values))

        for change, line, field, option, what in faults:
            tree = {**good, **change}
            with self.subTest(what, field=field):
                self.expect_error(["taper", "--dbh", tree["dbh"], "--height", tree["height"],
                                   "--coefs", numbers(tree["coefs"], ","),
                                   "--exps", numbers(tree["exps"], ",")],
                                  "^xtk: %s$" % re.escape("%s: %s" % (option, what)))
                # One field a line, in the order of `good`.
                path = self.write("t.json", "{\n" + ",\n".join(
                    "%s: %s" % (json.dumps(k), json.dumps(v)) for k, v in tree.items()) + "\n}\n")
                self.expect_error(["taper", "--tree", path],
                                  "^xtk: %s$" % re.escape("%s:%d: %s: %s" % (path, line, field, what)))
                inventory = self.write("trees.csv", "id,dbh,height,coefs,exps\nt1,%s,%s,%s,%s\n"
                                       "t2,30,24,1.1 -1.1,0 1\n" % (
                                           tree["dbh"], tree["height"], numbers(tree["coefs"], " "),
                                           numbers(tree["exps"], " ")))
                r = run("batch", inventory, "--products", self.products)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn("%s:2: %s: %s\n" % (inventory, field, what), r.stderr)
                if field.endswith("'exps'") or field == "field 'coefs'":
                    models = self.write("models.json", '{"m": {\n"coefs": %s,\n"exps": %s}}\n' % (
                        json.dumps(tree["coefs"]), json.dumps(tree["exps"])))
                    self.expect_error(["batch", inventory, "--products", self.products,
                                       "--models", models],
                                      "^xtk: %s$" % re.escape("%s:3: %s: %s" % (models, field, what)))

    def test_csv_output_is_the_json_logs(self):
        r = run("buck", "--csv", "--tree", self.tree, "--products", self.products)
        rows = list(csv.DictReader(io.StringIO(r.stdout)))
        logs = self.buck_json()["logs"]
        self.assertEqual(len(rows), len(logs))
        for row, log in zip(rows, logs):
            self.assertEqual({k: (v if k == "productName" else float(v)) for k, v in row.items()},
                             log)

    def tree_file(self, model, name="t.json"):
        coefs, exps = model
        return self.write(name, json.dumps({"dbh": 30, "height": 25, "coefs": coefs,
                                            "exps": exps}))

    def test_model_check_names_each_finding(self):
        """taper --check: the codes as JSON, the same codes one a line in words, and exit code
        3 with findings, 0 without."""
        for name, model, findings in CHECKED_MODELS:
            with self.subTest(name):
                tree = self.tree_file(model)
                r = run("taper", "--check", "--json", "--tree", tree)
                self.assertEqual(r.returncode, 3 if findings else 0, r.stderr)
                self.assertEqual(r.stderr, "")
                out = json.loads(r.stdout)
                self.assertEqual(list(out), ["findings", "volume_digits"])
                self.assertEqual(out["findings"], findings)
                if "volume-ill-conditioned" in findings:
                    self.assertLess(out["volume_digits"], 6)
                else:
                    self.assertGreaterEqual(out["volume_digits"], 12)
                text = run("taper", "--check", "--tree", tree)
                self.assertEqual(text.returncode, r.returncode)
                self.assertEqual(re.findall(r"^  ([a-z0-9-]+): \w", text.stdout, re.M), findings)
                self.assertIn("Closed-form volume: %d correct significant digits"
                              % out["volume_digits"], text.stdout)
                self.assertEqual("  No findings\n" in text.stdout, not findings)
        coefs, exps = MODELS["bump and nonzero tip"]
        r = run("taper", "--check", "--json", "--dbh", 30, "--height", 25,
                "--coefs", ",".join(map(str, coefs)), "--exps", ",".join(map(str, exps)))
        self.assertEqual((r.returncode, json.loads(r.stdout)["findings"]),
                         (3, ["diameter-increases", "nonzero-tip"]))

    def test_model_check_answers_alone(self):
        tree = self.tree_file(MODELS["cone"])
        for other in (["--volume"], ["--at", "1.3"], ["--height-at", "7"], ["--form-factor"],
                      ["--log-count", "--log-length", "3"], ["--csv"]):
            with self.subTest(other):
                self.expect_error(["taper", "--check", "--tree", tree] + other,
                                  r"^xtk: option --check: answers alone")

    def test_accurate_volume_beside_an_ill_conditioned_closed_form(self):
        tree = self.tree_file(MODELS["expanded degree 34"])
        r = run("taper", "--volume", "--json", "--tree", tree)
        self.assertEqual(r.returncode, 0, r.stderr)
        volume = json.loads(r.stdout)["volume"]
        self.assertEqual(list(volume), ["limits", "volume", "accurate_volume"])
        exact = exact_volume(30, 25, *MODELS["expanded degree 34"])
        self.assertLess(abs(volume["accurate_volume"] - exact), 1e-5 * exact)
        self.assertGreater(abs(volume["volume"] - exact), 1e-6 * exact)
        text = run("taper", "--volume", "--tree", tree).stdout
        shown = re.search(r"^  Volume from the ground to the tip: ([0-9.]+) m3; "
                          r"accurate: ([0-9.]+) m3 ", text, re.M)
        self.assertIsNotNone(shown, text)
        self.assertEqual(shown.groups(), ("%.4f" % volume["volume"],
                                          "%.4f" % volume["accurate_volume"]))
        rows = list(csv.reader(io.StringIO(run("taper", "--volume", "--csv", "--tree",
                                               tree).stdout)))
        self.assertEqual(rows[1:], [["volume", "", "%.17g" % volume["volume"]],
                                    ["accurateVolume", "", "%.17g" % volume["accurate_volume"]]])

    def test_accurate_volume_of_a_sound_model_is_the_closed_form(self):
        tree = self.tree_file(MODELS["five terms"])
        limits = ["--lower-height", "0.3", "--upper-diam", "7", "--log-length", "2.5"]
        for extra in ([], limits):
            with self.subTest(extra):
                r = run("taper", "--volume", "--json", "--tree", tree, *extra)
                volume = json.loads(r.stdout)["volume"]
                self.assertLess(abs(volume["accurate_volume"] - volume["volume"]),
                                1e-10 * volume["volume"])
                self.assertNotIn("accurate", run("taper", "--volume", "--tree", tree,
                                                 *extra).stdout)
                self.assertNotIn("accurateVolume", run("taper", "--volume", "--csv", "--tree",
                                                       tree, *extra).stdout)

    def test_buck_warns_of_a_flawed_model_and_stops_with_strict(self):
        tree = self.tree_file(MODELS["bump and nonzero tip"])
        findings = "taper model findings: diameter-increases, nonzero-tip"
        for output in ([], ["--json"], ["--csv"]):
            with self.subTest(output):
                r = run("buck", "--tree", tree, "--products", self.products, *output)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stderr.splitlines(), [
                    "xtk: warning: %s: %s (see xtk taper --check)" % (tree, findings)])
                if output == ["--json"]:
                    self.assertEqual(json.loads(r.stdout)["outcome"], 1)
                self.expect_error(["buck", "--tree", tree, "--products", self.products,
                                   "--strict"] + output,
                                  "^xtk: %s$" % re.escape("%s: %s (--strict)" % (tree, findings)))
        coefs, exps = MODELS["expanded degree 34"]
        self.expect_error(["buck", "--dbh", 30, "--height", 25, "--coefs",
                           ",".join(map(repr, coefs)), "--exps", ",".join(map(str, exps)),
                           "--products", self.products, "--strict"],
                          r"^xtk: options --dbh/--height/--coefs/--exps: taper model findings: "
                          r"volume-ill-conditioned \(--strict\)$")
        # A sound model: nothing on standard error, with or without --strict.
        for strict in ([], ["--strict"]):
            r = run("buck", "--tree", self.tree, "--products", self.products, *strict)
            self.assertEqual((r.returncode, r.stderr), (0, ""))


class Svg(XtkCase):
    def log_shapes(self, path):
        root = ET.parse(path).getroot()  # raises on XML that is not well formed
        return [e for e in root.iter() if e.get("class") == "log"]

    def test_one_shape_per_log(self):
        for extra in ([], ["--optimise", "value"], ["--stump-trim", "0.2", "--optimise", "volume"]):
            with self.subTest(extra):
                svg = self.path("stem.svg")
                out = self.buck_json("--svg", svg, *extra)
                shapes = self.log_shapes(svg)
                self.assertEqual(len(shapes), out["logCount"])
                self.assertEqual([s.get("data-product") for s in shapes],
                                 [str(log["productNumber"]) for log in out["logs"]])

    def test_demo_draws_both_buckings_and_names_are_escaped(self):
        r = run("demo", "--json", "--svg", "", cwd=self.dir)
        both = json.loads(r.stdout)
        self.assertFalse(os.path.exists(self.path("demo.svg")))
        self.assertEqual(run("demo", cwd=self.dir).returncode, 0)
        self.assertEqual(len(self.log_shapes(self.path("demo.svg"))),
                         both["sequential"]["logCount"] + both["optimised"]["logCount"])
        table = json.loads(json.dumps(self.table))
        table[0]["name"] = "<veneer> & \"co\""
        products = self.write("p.json", json.dumps(table))
        svg = self.path("named.svg")
        out = self.buck_json("--svg", svg, products=products)
        self.assertEqual(len(self.log_shapes(svg)), out["logCount"])
        texts = "".join(ET.parse(svg).getroot().itertext())
        self.assertIn("<veneer> & \"co\"", texts)

    def test_top_begins_where_the_stem_narrows_to_the_bounding_diameter(self):
        # Poles (14 cm) last and pulp (7 cm) the thinnest: the leftover of the sequential
        # bucking ends at the last product's minimum top, that of the searches at the
        # smallest one. The top limit leaves room for both above the logs.
        table = [self.table[i] for i in (0, 1, 3, 2)]
        products = self.write("p.json", json.dumps(table))
        for extra, diameter in (([], 14), (["--optimise", "value"], 7),
                                (["--optimise", "volume", "--exact"], 7)):
            with self.subTest(extra):
                svg = self.path("stem.svg")
                out = self.buck_json("--top-limit", "18", "--svg", svg, *extra, products=products)
                root = ET.parse(svg).getroot()
                zones = [e.text for e in root.iter() if e.get("class") == "zone"]
                self.assertIn("top (below \u2300%d cm)" % diameter, zones)
                titles = [e.text for e in root.iter() if e.tag.endswith("title")]
                top = [t for t in titles if t.startswith("top: above ")]
                self.assertEqual(len(top), 1, titles)
                start = float(re.match(r"top: above ([0-9.]+) m", top[0]).group(1))
                r = run("taper", "--json", "--tree", self.tree, "--height-at", diameter)
                narrows = json.loads(r.stdout)["heights"][0]["height"]
                self.assertGreater(narrows, out["logs"][-1]["trimTopHeight"])
                self.assertAlmostEqual(start, narrows, delta=0.005)
                leftover = "leftover: %s to %s m" % (
                    re.sub(r"\.?0+$", "", "%.2f" % out["logs"][-1]["trimTopHeight"]),
                    re.sub(r"\.?0+$", "", "%.2f" % start))
                self.assertTrue(any(t.startswith(leftover) for t in titles), (leftover, titles))


class Batch(XtkCase):
    def setUp(self):
        super().setUp()
        self.write("models.json", json.dumps({
            "demo": {k: json.load(open(self.tree))[k] for k in ("coefs", "exps")},
            "cone": {"coefs": [1, -1], "exps": [0, 1]}}))

    def inventory(self, n, bad_lines=()):
        """n trees, mixing named models and inline coefficients; bad rows at given lines."""
        rng = random.Random(7)
        lines = ["id,dbh,height,model,coefs,exps"]
        good = []
        for i in range(n):
            line_no = len(lines) + 1
            if line_no in bad_lines:
                lines.append(bad_lines[line_no])
            dbh, height = round(rng.uniform(14, 45), 1), round(rng.uniform(15, 34), 1)
            if i % 3 == 2:
                lines.append("t%d,%s,%s,,1.1 -1.1,0 1" % (i, dbh, height))
            else:
                lines.append("t%d,%s,%s,%s,," % (i, dbh, height, "demo" if i % 3 else "cone"))
            good.append("t%d" % i)
        return self.write("trees.csv", "\n".join(lines) + "\n"), good

    def batch(self, inventory, *extra):
        return run("batch", inventory, "--products", self.products, "--models",
                   self.path("models.json"), *extra)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def test_threads_give_identical_files_and_bad_rows_are_skipped(self):
        inventory, good = self.inventory(300, {17: "bad1,3x,20,demo,,", 40: 't0,30,20,demo,,',
                                               90: 'x"y,30,20,demo,,'})
        for objective in ([], ["--optimise", "value"]):
            with self.subTest(objective):
                files = {}
                for jobs in ("1", "2"):
                    r = self.batch(inventory, "-j", jobs, *objective)
                    self.assertEqual(r.returncode, 1, r.stderr)
                    self.assertIn("trees.csv:17: field 'dbh': not a number: \"3x\"", r.stderr)
                    self.assertIn("trees.csv:40: field 'id': \"t0\" already used on line 2",
                                  r.stderr)
                    self.assertIn("trees.csv:90: stray quote in cell 1", r.stderr)
                    self.assertNotIn("\r", r.stderr)  # no progress bar off a terminal
                    files[jobs] = (self.read("trees_logs.csv"), self.read("trees_totals.csv"))
                    self.assertEqual(sorted(os.listdir(self.dir)),
                                     ["demo-products.json", "demo-tree.json", "models.json",
                                      "trees.csv", "trees_logs.csv", "trees_totals.csv"])
                self.assertEqual(files["1"], files["2"])
                totals = list(csv.DictReader(io.StringIO(files["1"][1].decode())))
                self.assertEqual([t["id"] for t in totals], good)
                logs = list(csv.DictReader(io.StringIO(files["1"][0].decode())))
                self.assertEqual(len(logs), sum(int(t["logCount"]) for t in totals))

    def test_rows_are_the_bucking_of_each_tree(self):
        inventory, _ = self.inventory(5)
        self.assertEqual(self.batch(inventory, "--stump-trim", "0.1").returncode, 0)
        totals = list(csv.DictReader(open(self.path("trees_totals.csv"))))
        logs = list(csv.DictReader(open(self.path("trees_logs.csv"))))
        row = next(csv.DictReader(open(inventory)))  # t0, a cone
        self.assertEqual(row["model"], "cone")
        tree = self.write("t0.json", json.dumps({"dbh": float(row["dbh"]),
                                                 "height": float(row["height"]),
                                                 "coefs": [1, -1], "exps": [0, 1]}))
        r = run("buck", "--json", "--tree", tree, "--products", self.products,
                "--stump-trim", "0.1")
        out = json.loads(r.stdout)
        self.assertEqual(totals[0]["outcome"], "1")
        for name, value in out["totals"].items():
            self.assertEqual(float(totals[0][name]), value, name)
        mine = [log for log in logs if log["id"] == "t0"]
        self.assertEqual(len(mine), out["logCount"])
        for got, want in zip(mine, out["logs"]):
            for name, value in want.items():
                self.assertEqual(got[name] if isinstance(value, str) else float(got[name]), value,
                                 name)

    def test_quoted_ids_crlf_and_byte_order_mark(self):
        text = ("\ufeffid,dbh,height,model\r\n"
                "\"stand 4, tree \"\"A\"\"\",30,24, demo \r\n"
                "plain,28,22,cone\r\n")
        with open(self.path("trees.csv"), "w", encoding="utf-8", newline="") as f:
            f.write(text)
        r = self.batch(self.path("trees.csv"), "--logs", self.path("l.csv"), "--totals",
                       self.path("t.csv"))
        self.assertEqual(r.returncode, 0, r.stderr)
        totals = list(csv.DictReader(open(self.path("t.csv"), newline="")))
        self.assertEqual([t["id"] for t in totals], ['stand 4, tree "A"', "plain"])
        logs = list(csv.DictReader(open(self.path("l.csv"), newline="")))
        self.assertEqual({log["id"] for log in logs}, {'stand 4, tree "A"', "plain"})

    def test_bad_input_files_stop_before_any_output(self):
        inventory, _ = self.inventory(5)
        broken = self.write("p.json", "[{\"minTopDiam\": 1}]")
        r = run("batch", inventory, "--products", broken)
        self.assertEqual(r.returncode, 2)
        self.assertRegex(r.stderr, r"p\.json:1: missing field")
        self.write("trees.csv", "id,dbh,hieght,model\n")
        self.expect_error(["batch", inventory, "--products", self.products],
                          r"trees\.csv:1: unknown column 'hieght'$")
        self.write("trees.csv", "id,dbh,height,model\nt1,30,20,demo\n")
        self.expect_error(["batch", inventory, "--products", self.products],
                          r"column 'model' needs the models file")
        self.assertFalse(any(n.startswith("trees_") for n in os.listdir(self.dir)))

    def test_interrupted_run_leaves_no_file(self):
        inventory, _ = self.inventory(60000)
        p = subprocess.Popen([XTK, "batch", inventory, "--products", self.products, "--models",
                              self.path("models.json"), "--optimise", "value"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        p.send_signal(signal.SIGINT)
        code = p.wait()
        outputs = sorted(n for n in os.listdir(self.dir) if n.startswith("trees_"))
        if code == 0:  # finished before the signal: both files whole
            self.assertEqual(outputs, ["trees_logs.csv", "trees_totals.csv"])
        else:
            self.assertEqual(code, -signal.SIGINT)
            self.assertEqual(outputs, [])

    def test_flawed_models_are_warned_about_once_each(self):
        """One warning per named model and per distinct set of inline coefficients, however
        many trees use it, in the order of their first trees; the trees are bucked all the
        same. With --strict the first flawed model stops the run before any file is written."""
        def numbers(values):
            return " ".join(map(repr, map(float, values)))

        tipped, expanded_model = MODELS["nonzero tip"], MODELS["expanded degree 34"]
        models = self.write("flawed.json", json.dumps({
            "bump": dict(zip(("coefs", "exps"), MODELS["bump and nonzero tip"])),
            "cone": dict(zip(("coefs", "exps"), MODELS["cone"])),
            "unused": dict(zip(("coefs", "exps"), MODELS["dip"]))}))
        rows = [("t0", "cone", None), ("t1", "bump", None), ("t2", None, tipped),
                ("t3", "bump", None), ("t4", None, MODELS["five terms"]), ("t5", None, tipped),
                ("t6", None, expanded_model), ("t7", "bump", None), ("t8", None, tipped)]
        lines = ["id,dbh,height,model,coefs,exps"]
        for i, (tree, name, model) in enumerate(rows):
            lines.append("%s,%s,%s,%s,%s,%s" % (tree, 25 + i, 20 + i, name or "",
                                                 numbers(model[0]) if model else "",
                                                 numbers(model[1]) if model else ""))
        inventory = self.write("trees.csv", "\n".join(lines) + "\n")
        expected = [
            'xtk: warning: %s: model "bump" (tree "t1" and 2 more): taper model findings: '
            "diameter-increases, nonzero-tip (see xtk taper --check)" % models,
            'xtk: warning: %s:4: tree "t2" (and 2 more with the same coefficients): taper model '
            "findings: nonzero-tip (see xtk taper --check)" % inventory,
            'xtk: warning: %s:8: tree "t6": taper model findings: volume-ill-conditioned '
            "(see xtk taper --check)" % inventory]
        for jobs in ("1", "2"):
            with self.subTest(jobs=jobs):
                r = run("batch", inventory, "--products", self.products, "--models", models,
                        "-j", jobs)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stderr.splitlines()[:-1], expected)
                self.assertRegex(r.stderr.splitlines()[-1], r"^xtk batch: 9 trees bucked")
                with open(self.path("trees_totals.csv")) as f:
                    self.assertEqual([t["id"] for t in csv.DictReader(f)],
                                     [tree for tree, _, _ in rows])
        os.remove(self.path("trees_logs.csv"))
        os.remove(self.path("trees_totals.csv"))
        self.expect_error(["batch", inventory, "--products", self.products, "--models", models,
                           "--strict"],
                          "^%s$" % re.escape(expected[0].replace("warning: ", "").replace(
                              "(see xtk taper --check)", "(--strict)")))
        # Without the named model the first flawed one is inline.
        self.write("trees.csv", "\n".join(lines[:1] + lines[3:4] + lines[5:6]) + "\n")
        self.expect_error(["batch", inventory, "--products", self.products, "--strict"],
                          "^%s$" % re.escape('xtk: %s:2: tree "t2": taper model findings: '
                                             "nonzero-tip (--strict)" % inventory))
        self.assertFalse(any(n.startswith("trees_") for n in os.listdir(self.dir)))

    def test_progress_bar_on_a_terminal(self):
        inventory, _ = self.inventory(200)
        master, slave = pty.openpty()
        p = subprocess.Popen([XTK, "batch", inventory, "--products", self.products, "--models",
                              self.path("models.json")], stdout=subprocess.DEVNULL, stderr=slave)
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        self.assertEqual(p.wait(), 0)
        os.close(master)
        self.assertIn(b"\r[", seen)
        self.assertIn(b"200/200 trees", seen)


class Exact(XtkCase):
    """--exact: the exact optimiser where the breadth-first search gives up."""

    def give_up_table(self):
        # Twelve short fixed lengths at any position: more than 10000 sequences
        # in a generation on the demo tree.
        products = []
        for i in range(12):
            length = 1.0 + 0.25 * i
            products.append(dict(zip(FIELDS, [8, 999, 0, 999, length, length, 20 + i, 0, 0, 0,
                                              0, 0])))
        return self.write("many.json", json.dumps(products))

    def test_exact_answers_where_the_search_gives_up(self):
        table = self.give_up_table()
        searched = self.buck_json("--optimise", "value", products=table)
        exact = self.buck_json("--optimise", "value", "--exact", products=table)
        self.assertEqual(searched["outcome"], 99)
        self.assertEqual(searched["logs"], [])
        self.assertEqual(exact["outcome"], 1)
        self.assertEqual(exact["method"], "exact")
        self.assertGreater(len(exact["logs"]), 3)
        value = sum(log["value"] for log in exact["logs"])
        self.assertAlmostEqual(exact["totals"]["totalValue"], value, places=9)

    def test_text_and_drawing_say_why_each_search_stopped(self):
        table = self.give_up_table()
        given_up = "search given up: a generation left more than 10000 sequences"
        for extra, heading in ((["--optimise", "value"], "optimised by value: " + given_up),
                               (["--optimise", "value", "--exact"], "exact optimum by value: bucked")):
            with self.subTest(extra):
                svg = self.path("stem.svg")
                r = run("buck", "--tree", self.tree, "--products", table, "--svg", svg, *extra)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn("Bucking: %s, stump 0.3 m: %s\n" % tuple(heading.split(": ", 1)),
                              r.stdout)
                drawn = "".join(ET.parse(svg).getroot().itertext())
                if "--exact" in extra:
                    for text in (r.stdout, drawn):
                        self.assertNotIn("given up", text)
                        self.assertNotIn("10000", text)
                else:
                    self.assertIn(given_up, drawn)

    def test_exact_never_scores_below_the_search_on_the_demo(self):
        for objective, total in (("value", "totalValue"), ("volume", "productVolume")):
            searched = self.buck_json("--optimise", objective)
            exact = self.buck_json("--optimise", objective, "--exact")
            self.assertEqual(exact["outcome"], 1)
            self.assertGreaterEqual(exact["totals"][total], searched["totals"][total])

    def test_exact_needs_an_objective(self):
        self.expect_error(["buck", "--tree", self.tree, "--products", self.products, "--exact"],
                          r"option --exact.*--optimise")

    def test_batch_uses_the_exact_optimiser(self):
        table = self.give_up_table()
        tree = json.load(open(self.tree))
        inventory = self.write("trees.csv", "id,dbh,height,coefs,exps\nt1,%s,%s,%s,%s\n" % (
            tree["dbh"], tree["height"], " ".join(map(str, tree["coefs"])),
            " ".join(map(str, tree["exps"]))))
        for extra, outcome in ((["--optimise", "value"], "99"),
                               (["--optimise", "value", "--exact"], "1")):
            r = run("batch", inventory, "--products", table, *extra)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(self.path("trees_totals.csv")) as f:
                rows = list(csv.DictReader(f))
            self.assertEqual(rows[0]["outcome"], outcome)

    def test_batch_and_buck_fall_back_to_the_exact_optimiser_where_the_search_gives_up(self):
        gen = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench",
                           "gen_inventory.py")
        subprocess.run([sys.executable, gen, "400", self.dir, "5"], check=True,
                       capture_output=True)
        inventory = self.path("trees.csv")
        table = self.path("products5.json")

        def totals(*extra):
            r = run("batch", inventory, "--products", table, "--models",
                    self.path("models.json"), "--optimise", "value", "-j", "2", *extra)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(self.path("trees_totals.csv")) as f:
                lines = f.read().splitlines()
            with open(self.path("trees_logs.csv")) as f:
                logs = f.read().splitlines()
            return lines, logs

        plain, plain_logs = totals()
        helped, helped_logs = totals("--exact-when-given-up")
        self.assertEqual(helped[0], plain[0] + ",servedByExact")
        given_up = {line.split(",")[0] for line in plain[1:] if line.split(",")[1] == "99"}
        self.assertTrue(0 < len(given_up) < len(plain) - 1, len(given_up))
        for before, after in zip(plain[1:], helped[1:]):
            tree = before.split(",")[0]
            if tree in given_up:
                self.assertEqual(after.split(",")[1], "1")
                self.assertTrue(after.endswith(",1"), after)
            else:
                self.assertEqual(after, before + ",0")  # every other tree keeps its bytes
        self.assertEqual([l for l in helped_logs if l.split(",")[0] not in given_up],
                         [l for l in plain_logs if l.split(",")[0] not in given_up])
        # The exact optimiser's own answer for a tree it served, through xtk buck.
        tree_id = sorted(given_up)[0]
        row = next(r for r in csv.DictReader(open(inventory)) if r["id"] == tree_id)
        models = json.load(open(self.path("models.json")))
        model = models[row["model"]] if row["model"] else {
            "coefs": [float(x) for x in row["coefs"].split()],
            "exps": [float(x) for x in row["exps"].split()]}
        tree = self.write("one.json", json.dumps(dict(dbh=float(row["dbh"]),
                                                     height=float(row["height"]), **model)))
        exact = self.buck_json("--optimise", "value", "--exact", products=table, tree=tree)
        served = self.buck_json("--optimise", "value", "--exact-when-given-up", products=table,
                                tree=tree)
        self.assertTrue(served["servedByExact"])
        self.assertEqual({k: v for k, v in served.items() if k not in ("servedByExact", "method")},
                         {k: v for k, v in exact.items() if k != "method"})
        line = [l for l in helped[1:] if l.startswith(tree_id + ",")][0]
        self.assertEqual(float(line.split(",")[-2]), exact["totals"]["totalValue"])
        self.expect_error(["buck", "--tree", tree, "--products", table, "--exact-when-given-up"],
                          r"option --exact-when-given-up.*--optimise")


HPR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "hpr")


class Harvest(unittest.TestCase):
    """xtk harvest on the .hpr fixtures: the JSON, the SVG and a broken file."""

    def audit(self, name, *extra):
        result = run("harvest", os.path.join(HPR, name), "--json", *extra)
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout)

    def test_json_holds_every_stem_its_logs_and_the_totals(self):
        out = self.audit("small.hpr")
        self.assertEqual([s["stem_key"] for s in out["stems"]], [1001, 1002])
        first = out["stems"][0]
        self.assertAlmostEqual(first["actual_value"], 600 * 0.1849 + 9, places=9)
        self.assertEqual([l["length_cm"] for l in first["actual_logs"]], [432, 403, 150, 280])
        self.assertEqual([l["start_cm"] for l in first["actual_logs"]], [0, 432, 835, 985])
        self.assertEqual(first["actual_logs"][0]["diameter_class_mm"], 200)
        self.assertIsNone(first["actual_logs"][1]["diameter_class_mm"])  # below the classes
        self.assertEqual(first["actual_logs"][0]["volume"], 0.1849)  # the file's m3 (price)
        for key in ("product_key", "start_cm", "length_cm", "diameter_class_mm", "volume",
                    "value"):
            self.assertIn(key, first["optimal_logs"][0])
        self.assertAlmostEqual(sum(l["value"] for l in first["optimal_logs"]),
                               first["optimal_value"], places=9)
        self.assertGreaterEqual(first["optimal_value"], first["actual_value_model"])
        totals = out["totals"]
        self.assertEqual((totals["stems"], totals["stems_optimised"]), (2, 2))
        self.assertAlmostEqual(totals["optimal_value"],
                               sum(s["optimal_value"] for s in out["stems"]), places=9)
        self.assertTrue(any("bark function" in u["what"] for u in out["unsupported"]))
        # A coarser grid of cuts finds no more.
        coarse = self.audit("small.hpr", "--resolution", "10")
        self.assertLessEqual(coarse["totals"]["optimal_value"], totals["optimal_value"] + 1e-9)

    def test_unsupported_rule_leaves_the_stem_without_optimum(self):
        out = self.audit("unsupported.hpr")
        first = out["stems"][0]
        self.assertIsNone(first["optimal_value"])
        self.assertEqual(first["optimal_logs"], [])
        self.assertIn("Calculated Norwegian mid", first["no_optimum"])
        self.assertEqual(out["totals"]["stems_optimised"], 1)
        self.assertTrue(any(u["what"] == "volume rule 'Calculated Norwegian mid' is not supported"
                            and u["line"] > 0 for u in out["unsupported"]))
        text = run("harvest", os.path.join(HPR, "unsupported.hpr"))
        self.assertIn("no optimum: product 11", text.stdout)

    def test_svg_draws_both_buckings_of_every_stem(self):
        with tempfile.TemporaryDirectory() as tmp:
            svg = os.path.join(tmp, "h.svg")
            self.assertEqual(run("harvest", os.path.join(HPR, "small.hpr"), "--svg",
                                 svg).returncode, 0)
            root = ET.parse(svg).getroot()
            texts = [t.text or "" for t in root.iter("{http://www.w3.org/2000/svg}text")]
            self.assertEqual(sum(t.startswith("cut ") for t in texts), 2)
            self.assertEqual(sum(t.startswith("optimal ") for t in texts), 2)

    def test_broken_file_names_line_and_element(self):
        with tempfile.TemporaryDirectory() as tmp:
            bad = os.path.join(tmp, "bad.hpr")
            with open(bad, "w") as f:
                f.write("<HarvestedProduction><Machine>\n<Stem><StemKey>x1</StemKey></Stem>"
                        "</Machine></HarvestedProduction>")
            result = run("harvest", bad)
            self.assertEqual(result.returncode, 2)
            self.assertIn("bad.hpr: line 2: element 'StemKey': expected an integer key",
                          result.stderr)


class Fit(XtkCase):
    def stems(self, extra_lines=()):
        """Measured stems of a paraboloid d = dbh sqrt(1 - h/H) (scaled at breast height), then
        the given lines; returns the file and the number of good rows."""
        rng = random.Random(11)
        lines = ["id,dbh,height,h,d"]
        for tree in range(12):
            dbh, height = round(rng.uniform(15, 50), 1), round(rng.uniform(15, 35), 1)
            for _ in range(8):
                h = round(rng.uniform(0, height), 2)
                d = dbh * math.sqrt(1 - h / height) / math.sqrt(1 - 1.3 / height)
                lines.append("t%d,%s,%s,%s,%.4f" % (tree, dbh, height, h, d))
        good = len(lines) - 1
        lines.extend(extra_lines)
        return self.write("stems.csv", "\n".join(lines) + "\n"), good

    def fit(self, stems, *extra):
        models = self.path("models.json")
        if os.path.exists(models):
            os.remove(models)
        return run("fit", "--stems", stems, "--exps", "0,1,2", "--json", "--models", models,
                   *extra)

    def test_unreadable_rows_are_reported_and_make_the_exit_code_1(self):
        # Line 98 has a bad number, line 99 a cell too few; the rest is fitted.
        stems, good = self.stems(["t90,30,20,5,2x", "t91,30,20,5"])
        r = self.fit(stems)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertRegex(r.stderr, r"stems\.csv:98: field 'd': not a number")
        self.assertRegex(r.stderr, r"stems\.csv:99: expected 5 cells, found 4")
        report = json.loads(r.stdout)
        self.assertEqual(report["unreadable_rows"], 2)
        self.assertEqual(report["fits"][0]["rows_used"], good)
        self.assertIn("coefs", report["fits"][0])
        with open(self.path("models.json")) as f:
            self.assertEqual(list(json.load(f)), ["all"])
        # The text report says so too, with the same exit code.
        text = run("fit", "--stems", stems, "--exps", "0,1,2")
        self.assertEqual(text.returncode, 1)
        self.assertIn("2 rows could not be read", text.stdout)

    def test_missing_values_are_skipped_not_errors(self):
        # Empty and NA cells, a height above the tree and a dbh of 0 are rows the fit leaves
        # out and counts; they are no reason for a nonzero exit code.
        stems, good = self.stems(["t90,30,20,5,", "t91,NA,20,5,20", "t92,30,20,21,5",
                                  "t93,0,20,5,20"])
        r = self.fit(stems)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "")
        report = json.loads(r.stdout)
        self.assertEqual(report["unreadable_rows"], 0)
        self.assertEqual(report["fits"][0]["rows_used"], good)
        self.assertEqual(report["fits"][0]["rows_skipped"], 4)
        self.assertTrue(os.path.exists(self.path("models.json")))
    # Fits through the tip, REML fits, intervals and calibration.

    def mixed_stems(self, trees=20, huge=False):
        """Stems whose trees differ in level and slope (random effects on terms 0 and 1), with
        1.5% noise; `huge`: diameters near the largest doubles, whose restricted likelihood
        overflows."""
        rng = random.Random(23)
        lines = ["id,dbh,height,h,d"]
        for tree in range(trees):
            dbh, height = rng.uniform(15, 50), rng.uniform(14, 34)
            b0, b1 = rng.gauss(0, 0.05), rng.gauss(0, 0.04)
            heights = (0.3, 1.3) + tuple(sorted(rng.uniform(2, height - 1) for _ in range(5)))
            for h in heights:
                x = h / height
                d = dbh * ((1.15 + b0) + (-1.2 + b1) * x + 0.3 * x * x + rng.gauss(0, 0.015))
                if huge:
                    d = rng.uniform(1e299, 1e300)
                lines.append("t%d,%r,%r,%r,%r" % (tree, dbh, height, h, d))
        return self.write("mixed.csv", "\n".join(lines) + "\n")

    def taper_json(self, saved, *extra):
        r = run("taper", "--fit", saved, "--dbh", 30, "--height", 24, "--json", *extra)
        self.assertEqual(r.returncode, 0, r.stderr)
        return json.loads(r.stdout)

    def test_tip_zero_fit_ends_at_the_tip(self):
        stems, good = self.stems()
        tip = json.loads(self.fit(stems, "--tip-zero").stdout)["fits"][0]
        free = json.loads(self.fit(stems).stdout)["fits"][0]
        self.assertTrue(tip["tip_zero"])
        self.assertFalse(free["tip_zero"])
        self.assertLess(abs(sum(tip["coefs"])), 1e-12)
        self.assertGreater(abs(sum(free["coefs"])), 1e-4)
        # One coefficient fewer is free through the tip.
        self.assertEqual(tip["residual_df"], good - 2)
        self.assertEqual(free["residual_df"], good - 3)
        self.assertTrue(all(e > 0 for e in tip["standard_errors"]))

    def test_random_effects_json_keys(self):
        stems = self.mixed_stems()
        r = run("fit", "--stems", stems, "--exps", "0,1,2", "--random", "0,1", "--json")
        self.assertEqual(r.returncode, 0, r.stderr)
        f = json.loads(r.stdout)["fits"][0]
        for key in ("coefs", "standard_errors", "random_exps", "random_covariance", "residual_sd",
                    "reml_loglik", "converged", "iterations", "trees_used"):
            self.assertIn(key, f)
        self.assertEqual(f["random_exps"], [0, 1])
        d = f["random_covariance"]
        self.assertEqual([len(row) for row in d], [2, 2])
        self.assertEqual(d[0][1], d[1][0])
        self.assertGreater(d[0][0], 0)
        self.assertGreater(d[1][1], 0)
        self.assertTrue(f["converged"])
        self.assertGreater(f["iterations"], 0)
        self.assertEqual(f["trees_used"], 20)
        # The level sd simulated is 0.05, the noise 0.015: the estimates are of that order.
        self.assertLess(abs(math.sqrt(d[0][0]) - 0.05), 0.03)
        self.assertLess(abs(f["residual_sd"] - 0.015), 0.005)
        self.assertTrue(math.isfinite(f["reml_loglik"]))

    def test_saved_fit_gives_ordered_intervals_that_widen_with_the_level(self):
        stems = self.mixed_stems()
        saved = self.path("fit.json")
        r = run("fit", "--stems", stems, "--exps", "0,1,2", "--random", "0,1", "--save", saved)
        self.assertEqual(r.returncode, 0, r.stderr)
        at = ("--at", "1.3,8,16", "--volume", "--lower-height", "0.3")
        got = {}
        for kind in ("confidence", "prediction"):
            for level in ("0.8", "0.99"):
                j = self.taper_json(saved, *at, "--interval", kind, "--level", level)
                self.assertEqual(j["interval"], {"kind": kind, "level": float(level)})
                rows = j["diameters"] + [j["volume"]]
                for row in rows:
                    value = row.get("diameter", row.get("volume"))
                    self.assertLessEqual(row["lower"], value)
                    self.assertLessEqual(value, row["upper"])
                got[kind, level] = [(row["lower"], row["upper"]) for row in rows]
        for kind in ("confidence", "prediction"):
            for (lo8, hi8), (lo99, hi99) in zip(got[kind, "0.8"], got[kind, "0.99"]):
                self.assertLess(lo99, lo8)
                self.assertGreater(hi99, hi8)
        for (clo, chi), (plo, phi) in zip(got["confidence", "0.8"], got["prediction", "0.8"]):
            self.assertGreater(phi - plo, chi - clo)
        # Without --fit there is no interval to give.
        r = run("taper", "--dbh", 30, "--height", 24, "--coefs", "1,-1", "--exps", "0,1",
                "--interval", "confidence")
        self.assertEqual(r.returncode, 2)
        self.assertIn("need --fit FILE", r.stderr)

    def test_measured_diameters_calibrate_the_curve(self):
        stems = self.mixed_stems()
        saved = self.path("fit.json")
        self.assertEqual(run("fit", "--stems", stems, "--exps", "0,1,2", "--random", "0,1",
                             "--save", saved).returncode, 0)
        mean = [row["diameter"] for row in self.taper_json(saved, "--at", "5,12")["diameters"]]
        # A tree 1.5 cm thicker than the mean curve at both heights.
        target = [round(d + 1.5, 2) for d in mean]
        own = self.taper_json(saved, "--at", "5,12", "--measured",
                              "5:%r,12:%r" % tuple(target))
        self.assertEqual(own["calibration"]["outlying"], False)
        self.assertEqual(own["calibration"]["measured"], [{"height": 5, "diameter": target[0]},
                                                          {"height": 12, "diameter": target[1]}])
        for m, o, t in zip(mean, own["diameters"], target):
            self.assertGreater(o["diameter"], m + 0.5)
            self.assertLess(o["diameter"], t)
        # A diameter far beyond the fitted trees: allowed, flagged and warned of.
        r = run("taper", "--fit", saved, "--dbh", 30, "--height", 24, "--at", 5, "--json",
                "--measured", "5:70")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(json.loads(r.stdout)["calibration"]["outlying"])
        self.assertIn("warning", r.stderr)
        r = run("taper", "--fit", saved, "--dbh", 30, "--height", 24, "--measured", "5-29")
        self.assertEqual(r.returncode, 2)
        self.assertIn("expected HEIGHT:DIAMETER pairs", r.stderr)

    def test_reml_fit_that_does_not_converge_fails_with_its_reason(self):
        stems = self.mixed_stems(trees=6, huge=True)
        saved = self.path("fit.json")
        r = run("fit", "--stems", stems, "--exps", "0,1", "--random", "0", "--json", "--save",
                saved)
        self.assertEqual(r.returncode, 1)
        f = json.loads(r.stdout)["fits"][0]
        self.assertFalse(f["converged"])
        self.assertIn("did not converge", f["error"])
        self.assertNotIn("coefs", f)
        self.assertIn("not fitted", r.stderr)
        self.assertIn("restricted likelihood is not finite", r.stderr)
        with open(saved) as fh:
            self.assertEqual(json.load(fh), {"fits": {}})


if __name__ == "__main__":
    XTK = os.path.abspath(sys.argv[1])
    module = sys.modules[__name__]
    loader = unittest.defaultTestLoader
    suite = (loader.loadTestsFromNames(sys.argv[2:], module) if len(sys.argv) > 2
             else loader.loadTestsFromModule(module))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
