#!/usr/bin/env python3
"""Writes a .hpr file of N generated measured stems for timing the audit:
bench/gen_hpr.py 1000 > stems1000.hpr; /usr/bin/time -v xtk harvest stems1000.hpr > /dev/null

The products are those of tests/data/hpr/small.hpr; each stem is 12 to 24 m, measured every
10 cm with some noise, cut into saw logs and pulp the way a harvester might.
"""
import random
import re
import sys
from pathlib import Path

FIXTURE = Path(__file__).resolve().parent.parent / "tests" / "data" / "hpr" / "small.hpr"


def stem(key, rng):
    length = rng.randrange(1200, 2400, 10)
    butt = rng.uniform(220, 420)
    taper = (butt - rng.uniform(40, 70)) / length
    bark0, bark1 = rng.uniform(8, 20), rng.uniform(3, 8)

    def ob(x):
        return max(30.0, butt - taper * x + rng.uniform(-4, 4))

    def bark(x):
        return bark0 + (bark1 - bark0) * x / length

    lines = [f"    <Stem><StemKey>{key}</StemKey><SpeciesGroupKey>1</SpeciesGroupKey>",
             "      <SingleTreeProcessedStem>", f"        <DBH>{round(ob(130))}</DBH>",
             "        <StemGrade><GradeValue>1</GradeValue><GradeStartPosition>0"
             "</GradeStartPosition></StemGrade>",
             f"        <StemGrade><GradeValue>2</GradeValue><GradeStartPosition>"
             f"{rng.randrange(600, length, 10)}</GradeStartPosition></StemGrade>"]
    at, k = 0, 1
    while True:
        saw = ob(at + 430) - bark(at + 430) > 170
        l = rng.choice([373, 403, 433, 463]) if saw else 280 + rng.randrange(0, 200)
        if at + l > length - 20:
            break
        top = at + l
        lines.append(f"        <Log><LogKey>{k}</LogKey><ProductKey>{11 if saw else 12}</ProductKey>"
                     f'<LogVolume logVolumeCategory="m3 (price)">{0.0000785 * ob(top) ** 2 * l / 1e4:.4f}'
                     f'</LogVolume><LogDiameter logDiameterCategory="Butt ob">{round(ob(at))}</LogDiameter>'
                     f'<LogDiameter logDiameterCategory="Butt ub">{round(ob(at) - bark(at))}</LogDiameter>'
                     f'<LogDiameter logDiameterCategory="Top ob">{round(ob(top))}</LogDiameter>'
                     f'<LogDiameter logDiameterCategory="Top ub">{round(ob(top) - bark(top))}</LogDiameter>'
                     f'<LogMeasurement logMeasurementCategory="Machine"><LogLength>{l}</LogLength>'
                     f"</LogMeasurement></Log>")
        at, k = top, k + 1
    lines.append("        <StemDiameters>")
    lines += [f'          <DiameterValue diameterPosition="{x}">{round(ob(x))}</DiameterValue>'
              for x in range(0, length + 1, 10)]
    lines.append("        </StemDiameters></SingleTreeProcessedStem></Stem>")
    return "\n".join(lines) + "\n"


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    rng = random.Random(22)
    text = FIXTURE.read_text()
    head = text[: text.index("    <Stem>")]
    tail = text[text.rindex("</Stem>") + len("</Stem>\n"):]
    sys.stdout.write(head + "".join(stem(100000 + i, rng) for i in range(n)) + tail)


if __name__ == "__main__":
    main()
