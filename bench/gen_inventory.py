#!/usr/bin/env python3
"""Writes a generated forest inventory for timing `xtk batch`.

Usage: gen_inventory.py N DIR [SEED]

DIR receives trees.csv (N trees: id, dbh, height, and a named model or
inline coefficients), models.json (three taper models by name),
products.json (veneer, sawlog, pole, pulp) and products5.json (butt veneer,
two saw-log lengths, post and pulp, on which the breadth-first search gives
up on about one tree in forty). The same N and SEED always give
the same files.
"""
import json
import os
import random
import sys

# Relative profiles p(x), x = h / height, each 1 at breast height and 0 at the tip.
MODELS = {
    "spruce": {"coefs": [1.17, -1.07, 1.19, -1.54, 0.6, -0.35], "exps": [0, 0.5, 1, 2, 3, 6]},
    "pine": {"coefs": [1.14, -1.23, 1.68, -3.14, 1.55], "exps": [0, 1, 2, 3, 4]},
    "fir": {"coefs": [1.15, -0.6, 0.9, -1.6, 0.8, -0.65], "exps": [0, 0.5, 1, 2, 3, 5]},
}


def product(name, min_top, min_len, max_len, price, basis, position=0, loss=0.05, max_top=999):
    return {"name": name, "minTopDiam": min_top, "maxTopDiam": max_top, "minBaseDiam": 0,
            "maxBaseDiam": 999, "minLength": min_len, "maxLength": max_len, "unitPrice": price,
            "priceBasis": basis, "logPosition": position, "heightRule": 0, "lossFraction": loss,
            "trimLength": 0.1}


# A realistic five-product table on which the breadth-first search gives up on
# about one tree in forty (the tall ones, where short posts and pulp bolts
# multiply the sequences): a butt veneer, two saw-log lengths, a post and pulp.
FIVE_PRODUCTS = [product("butt veneer", 30, 2.5, 3.5, 180, 0, position=1, loss=0.03),
                 product("saw log 4.9", 16, 4.9, 4.9, 95, 0),
                 product("saw log 3.7", 14, 3.7, 3.7, 85, 0),
                 dict(product("post", 9, 1.2, 1.2, 4, 2, loss=0, max_top=18), trimLength=0.05),
                 dict(product("pulp", 6, 1.8, 1.8, 22, 0, loss=0), trimLength=0)]

PRODUCTS = [product("veneer", 26, 3, 4, 150, 0, position=1),
            product("sawlog", 18, 3, 5, 90, 0),
            product("pole", 14, 6, 6, 16, 2, loss=0, max_top=20),
            product("pulp", 7, 2, 3, 25, 0, loss=0)]


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    n, out = int(sys.argv[1]), sys.argv[2]
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) == 4 else 1)
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "models.json"), "w") as f:
        json.dump(MODELS, f, indent=2)
    with open(os.path.join(out, "products.json"), "w") as f:
        json.dump(PRODUCTS, f, indent=2)
    with open(os.path.join(out, "products5.json"), "w") as f:
        json.dump(FIVE_PRODUCTS, f, indent=2)
    names = sorted(MODELS)
    with open(os.path.join(out, "trees.csv"), "w") as f:
        f.write("id,dbh,height,model,coefs,exps\n")
        for i in range(n):
            dbh = round(rng.uniform(12, 55), 1)
            # Taller with thickness, levelling off near 35 m, with some spread.
            height = round(max(8.0, 1.3 + 36 * (1 - 0.965 ** dbh) * rng.uniform(0.85, 1.15)), 1)
            name = names[i % len(names)]
            if i % 10 == 9:  # every tenth tree carries its coefficients itself
                m = MODELS[name]
                f.write("T%06d,%s,%s,,%s,%s\n" % (i, dbh, height, " ".join(map(str, m["coefs"])),
                                                 " ".join(map(str, m["exps"]))))
            else:
                f.write("T%06d,%s,%s,%s,,\n" % (i, dbh, height, name))


if __name__ == "__main__":
    main()
