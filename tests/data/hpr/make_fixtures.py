#!/usr/bin/env python3
"""Writes the small .hpr fixtures of the reader's and the audit's tests.

small.hpr: two species groups, three products (one with a forbidden cell, a
cell for hand bucking only and permitted grades), two stems with grade zones,
diameters every 10 cm, and the logs cut, one of them outside the length
classes. unsupported.hpr: a product priced by a volume rule this library does
not carry and an element it does not read. schema.hpr: small.hpr's content
with the element names of the StanForD 2010 schema where they differ from
the names small.hpr uses (which an earlier reader took, and which are still
read): DiameterClassMAX and DiameterUnderBark in DiameterClasses with the
attribute diameterClassCategory, LengthClass directly in LengthDefinition,
the volume rules in PriceDefinition, PermittedGradesDefinition/
PermittedGradeNumber, the schema's BuckingCriteria values, the grade start
as an attribute, LogDiameter in LogMeasurement, and a bark function with its
barkFunctionCategory. Its tables are small.hpr's. Run from anywhere:
/usr/bin/python3 tests/data/hpr/make_fixtures.py
"""
import math
from pathlib import Path

HERE = Path(__file__).resolve().parent


def ob(stem, x):
    """Over-bark diameter (mm) of the fixture stems at x cm."""
    return (330 - 0.2 * x) if stem == 1 else (280 - 0.15 * x)


def bark(stem, x):
    """Double bark thickness (mm)."""
    return (12 - 0.005 * x) if stem == 1 else (16 - 0.008 * x)


CRITERIA = {"Manual": "Only logs bucked manually allowed",
            "Forbidden": "Forbidden to buck the log even manually"}
CATEGORY = {"Top": "Top", "Mid": "Midpoint"}


def product(key, name, species, dlimits, dmax, position, under, llimits, lmax, cells, extra="",
            schema=False):
    items = []
    for d in dlimits:
        for l in llimits:
            price, crit = cells.get((d, l), (None, None))
            if price is None:
                continue
            if crit and schema:
                crit = CRITERIA[crit]
            c = f"<BuckingCriteria>{crit}</BuckingCriteria>" if crit else ""
            items.append(f'        <ProductMatrixItem diameterClassLowerLimit="{d}" '
                         f'lengthClassLowerLimit="{l}"><Price>{price}</Price>{c}</ProductMatrixItem>')
    dclasses = "".join(f"<DiameterClass><DiameterClassLowerLimit>{d}</DiameterClassLowerLimit>"
                       f"</DiameterClass>" for d in dlimits)
    lclasses = "".join(f"<LengthClass><LengthClassLowerLimit>{l}</LengthClassLowerLimit>"
                       f"</LengthClass>" for l in llimits)
    if schema:
        return f"""    <ProductDefinition>
      <ProductKey>{key}</ProductKey>
      <ClassifiedProductDefinition>
        <ProductName>{name}</ProductName>
        <DiameterDefinition>
          <DiameterClasses diameterClassCategory="{CATEGORY[position]}">{dclasses}
            <DiameterClassMAX>{dmax}</DiameterClassMAX>
            <DiameterUnderBark>{'true' if under else 'false'}</DiameterUnderBark>
          </DiameterClasses>
        </DiameterDefinition>
        <LengthDefinition>{lclasses}
          <LengthClassMAX>{lmax}</LengthClassMAX>
        </LengthDefinition>
{extra}        <ProductMatrixes>
{chr(10).join(items)}
        </ProductMatrixes>
        <SpeciesGroupKey>{species}</SpeciesGroupKey>
      </ClassifiedProductDefinition>
    </ProductDefinition>
"""
    return f"""    <ProductDefinition>
      <ProductKey>{key}</ProductKey>
      <ClassifiedProductDefinition>
        <ProductName>{name}</ProductName>
        <SpeciesGroupKey>{species}</SpeciesGroupKey>
        <DiameterDefinition>
          <DiameterClasses>{dclasses}</DiameterClasses>
          <DiameterClassMAX>{dmax}</DiameterClassMAX>
          <DiameterUnderBark>{'true' if under else 'false'}</DiameterUnderBark>
          <DiameterTopPositionOrMid>{position}</DiameterTopPositionOrMid>
        </DiameterDefinition>
        <LengthDefinition>
          <LengthClasses>{lclasses}</LengthClasses>
          <LengthClassMAX>{lmax}</LengthClassMAX>
        </LengthDefinition>
        <ProductMatrixes>
{chr(10).join(items)}
        </ProductMatrixes>
{extra}      </ClassifiedProductDefinition>
    </ProductDefinition>
"""


def stem(key, species, n, length, grades, logs, schema=False):
    out = [f"    <Stem>\n      <StemKey>{key}</StemKey>\n      <SpeciesGroupKey>{species}</SpeciesGroupKey>",
           "      <SingleTreeProcessedStem>", f"        <DBH>{round(ob(n, 130))}</DBH>"]
    for g, at in grades:
        if schema:
            out.append(f'        <StemGrade><GradeValue gradeStartPosition="{at}">{g}</GradeValue>'
                       f"</StemGrade>")
        else:
            out.append(f"        <StemGrade><GradeValue>{g}</GradeValue>"
                       f"<GradeStartPosition>{at}</GradeStartPosition></StemGrade>")
    start = 0
    for i, (pkey, l, price_volume) in enumerate(logs, 1):
        top = start + l
        mid = start + l / 2
        out.append("        <Log>")
        out.append(f"          <LogKey>{i}</LogKey>\n          <ProductKey>{pkey}</ProductKey>")
        out.append(f'          <LogVolume logVolumeCategory="m3 (price)">{price_volume:.4f}</LogVolume>')
        diameters = []
        for name, x in (("Butt", start), ("Mid", mid), ("Top", top)):
            diameters.append(f'<LogDiameter logDiameterCategory="{name} ob">{round(ob(n, x))}'
                             f"</LogDiameter>")
            if name != "Mid":
                diameters.append(f'<LogDiameter logDiameterCategory="{name} ub">'
                                 f"{round(ob(n, x) - bark(n, x))}</LogDiameter>")
        if schema:
            out.append('          <LogMeasurement logMeasurementCategory="Machine">')
            out.extend("            " + d for d in diameters)
            out.append(f"            <LogLength>{l}</LogLength>\n          </LogMeasurement>")
        else:
            out.extend("          " + d for d in diameters)
            out.append(f'          <LogMeasurement logMeasurementCategory="Machine">'
                       f"<LogLength>{l}</LogLength></LogMeasurement>")
        out.append("        </Log>")
        start = top
    out.append("        <StemDiameters>")
    for x in range(0, length + 1, 10):
        out.append(f'          <DiameterValue diameterPosition="{x}">{round(ob(n, x))}</DiameterValue>')
    out.append("        </StemDiameters>\n      </SingleTreeProcessedStem>\n    </Stem>")
    return "\n".join(out) + "\n"


def top_volume(n, start, length, class_length):
    d = round(ob(n, start + length) - bark(n, start + length))
    return math.pi / 4 * (d / 1000) ** 2 * class_length / 100


def document(products, stems, extra_machine="", bark="<BarkFunction><LinearBarkFunction/></BarkFunction>"):
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<HarvestedProduction xmlns="urn:skogforsk:stanford2010" version="3.4">
  <HarvestedProductionHeader><CreationDate>2024-05-02T10:00:00</CreationDate></HarvestedProductionHeader>
  <Machine>
    <MachineKey>7</MachineKey>
    <SpeciesGroupDefinition>
      <SpeciesGroupKey>1</SpeciesGroupKey>
      <SpeciesGroupName>Spruce</SpeciesGroupName>
      {bark}
    </SpeciesGroupDefinition>
    <SpeciesGroupDefinition>
      <SpeciesGroupKey>2</SpeciesGroupKey>
      <SpeciesGroupName>Pine</SpeciesGroupName>
    </SpeciesGroupDefinition>
{extra_machine}{products}{stems}  </Machine>
</HarvestedProduction>
"""


SAW_EXTRA = """        <PriceCategory>Price/m3</PriceCategory>
        <VolumeDiameterCategory>Top</VolumeDiameterCategory>
        <VolumeLengthCategory>Length as defined in LengthClasses</VolumeLengthCategory>
        <VolumeUnderBark>true</VolumeUnderBark>
        <PermittedGrades><GradeValue>1</GradeValue></PermittedGrades>
"""
PULP_EXTRA = """        <PriceCategory>Price/log</PriceCategory>
        <VolumeDiameterCategory>All diameters (solid volume)</VolumeDiameterCategory>
        <VolumeLengthCategory>Physical length cm</VolumeLengthCategory>
        <VolumeUnderBark>true</VolumeUnderBark>
        <PermittedGrades><GradeValue>1</GradeValue><GradeValue>2</GradeValue></PermittedGrades>
"""
SCHEMA_BARK = ('<BarkFunction barkFunctionCategory="Swedish Zacco"><SwedishZacco>'
               "<ConstantA>1.5</ConstantA><FactorB>0.03</FactorB></SwedishZacco></BarkFunction>")


def in_price_definition(extra):
    """A product's rules the schema's way: the volume rules in PriceDefinition, the permitted
    grades in PermittedGradesDefinition; PriceCategory stays (the schema has no such element
    that we could find)."""
    keep, rules, grades = [], [], []
    for line in extra.splitlines():
        if "<Volume" in line:
            rules.append("  " + line)
        elif "PermittedGrades" in line:
            values = line.split("<GradeValue>")[1:]
            numbers = "".join(f"<PermittedGradeNumber>{v.split('<')[0]}</PermittedGradeNumber>"
                              for v in values)
            grades.append(f"        <PermittedGradesDefinition>{numbers}</PermittedGradesDefinition>")
        else:
            keep.append(line)
    rules.insert(0, '          <VolumeDiameterAdjustment>Measured diameter in mm</VolumeDiameterAdjustment>')
    price = "        <PriceDefinition>\n" + "\n".join(rules) + "\n        </PriceDefinition>"
    return "\n".join(keep + [price] + grades) + "\n"


PINE_EXTRA = """        <VolumeDiameterCategory>Mid</VolumeDiameterCategory>
        <VolumeLengthCategory>Rounded downwards to nearest dm-module</VolumeLengthCategory>
        <VolumeUnderBark>false</VolumeUnderBark>
"""


def saw_cells():
    cells = {}
    for d, base in ((160, 400), (200, 560), (240, 650)):
        for l, step in ((370, 0), (400, 20), (430, 40), (460, 50)):
            cells[(d, l)] = (base + step, None)
    cells[(240, 460)] = (700, "Forbidden")
    cells[(200, 370)] = (560, "Manual")
    return cells


def main():
    saw = product(11, "Spruce saw log", 1, [160, 200, 240], 400, "Top", True,
                  [370, 400, 430, 460], 490, saw_cells(), SAW_EXTRA)
    pulp = product(12, "Spruce pulp", 1, [50], 999, "Top", False, [270], 551,
                   {(50, 270): (9, None)}, PULP_EXTRA)
    pine = product(21, "Pine saw log", 2, [150, 250], 400, "Mid", False, [310, 400], 520,
                   {(150, 310): (500, None), (150, 400): (540, None), (250, 310): (600, None),
                    (250, 400): (640, None)}, PINE_EXTRA)
    # Stem 1: saw 432; saw 403 (below the diameter classes, into grade 2); saw 150 (below the
    # length classes); pulp 280.
    logs1 = [(11, 432, top_volume(1, 0, 432, 430)), (11, 403, top_volume(1, 432, 403, 400)),
             (11, 150, 0.0123), (12, 280, 0.0431)]
    stems = stem(1001, 1, 1, 1290, [(1, 0), (2, 800)], logs1)
    logs2 = [(21, 412, 0.1834), (21, 330, 0.1002)]
    stems += stem(1002, 2, 2, 900, [(1, 0)], logs2)
    (HERE / "small.hpr").write_text(document(saw + pulp + pine, stems))

    schema_products = (
        product(11, "Spruce saw log", 1, [160, 200, 240], 400, "Top", True, [370, 400, 430, 460],
                490, saw_cells(), in_price_definition(SAW_EXTRA), schema=True)
        + product(12, "Spruce pulp", 1, [50], 999, "Top", False, [270], 551,
                  {(50, 270): (9, None)}, in_price_definition(PULP_EXTRA), schema=True)
        + product(21, "Pine saw log", 2, [150, 250], 400, "Mid", False, [310, 400], 520,
                  {(150, 310): (500, None), (150, 400): (540, None), (250, 310): (600, None),
                   (250, 400): (640, None)}, in_price_definition(PINE_EXTRA), schema=True))
    schema_stems = (stem(1001, 1, 1, 1290, [(1, 0), (2, 800)], logs1, schema=True)
                    + stem(1002, 2, 2, 900, [(1, 0)], logs2, schema=True))
    (HERE / "schema.hpr").write_text(document(schema_products, schema_stems, bark=SCHEMA_BARK))

    norwegian = saw.replace("<VolumeDiameterCategory>Top</VolumeDiameterCategory>",
                            "<VolumeDiameterCategory>Calculated Norwegian mid"
                            "</VolumeDiameterCategory>")
    (HERE / "unsupported.hpr").write_text(document(
        norwegian + pulp + pine, stems,
        "    <OperatorDefinition><OperatorKey>3</OperatorKey></OperatorDefinition>\n"))


if __name__ == "__main__":
    main()
