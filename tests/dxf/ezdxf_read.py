"""Reads exported DXF files (and the RUL file beside each) with ezdxf, an
independent reader, and prints what the tests compare as JSON.
Exit status 3 when ezdxf is not installed."""
import json
import sys

try:
    import ezdxf
except ImportError:
    print("ezdxf missing")
    sys.exit(3)


def xy(v):
    return [v[0], v[1]]


def read_block(block):
    out = {"name": block.name, "texts": [], "outlines": [], "grain": [], "rules": [], "notches": []}
    for e in block:
        kind, layer = e.dxftype(), e.dxf.layer
        if kind == "TEXT":
            if e.dxf.text.startswith("# "):
                out["rules"].append([int(e.dxf.text[2:])] + xy(e.dxf.insert))
            else:
                out["texts"].append(e.dxf.text)
        elif kind == "POLYLINE" and layer == "1":
            out["outlines"].append({"closed": e.is_closed, "points": [xy(v.dxf.location) for v in e.vertices]})
        elif kind == "LINE" and layer == "7":
            out["grain"] = [xy(e.dxf.start), xy(e.dxf.end)]
        elif kind == "POINT" and layer == "4":
            out["notches"].append(xy(e.dxf.location))
    return out


def read_rul(path):
    rul = {"sizes": [], "sample": None, "units": None, "rules": {}}
    current = None
    with open(path, "rb") as f:
        for raw in f.read().decode("ascii").split("\r\n"):
            if raw.startswith("SIZE LIST:"):
                rul["sizes"] = raw[len("SIZE LIST:"):].split()
            elif raw.startswith("SAMPLE SIZE:"):
                rul["sample"] = raw[len("SAMPLE SIZE:"):].strip()
            elif raw.startswith("UNITS:"):
                rul["units"] = raw[len("UNITS:"):].strip()
            elif raw.startswith("RULE: DELTA "):
                current = raw[len("RULE: DELTA "):]
                rul["rules"][current] = []
            elif raw == "END":
                current = None
            elif current is not None and raw.strip():
                for pair in raw.replace(",", " ").split():
                    rul["rules"][current].append(float(pair))
    return rul


def main():
    files = []
    for path in sys.argv[1:]:
        doc = ezdxf.readfile(path)
        auditor = doc.audit()
        blocks = [read_block(b) for b in doc.blocks if not b.name.startswith("*")]
        msp = doc.modelspace()
        files.append({
            "path": path,
            "version": doc.dxfversion,
            "audit_errors": len(auditor.errors),
            "inserts": [e.dxf.name for e in msp if e.dxftype() == "INSERT"],
            "style_texts": [e.dxf.text for e in msp if e.dxftype() == "TEXT"],
            "blocks": blocks,
            "rul": read_rul(path[:-4] + ".rul"),
        })
    print(json.dumps({"files": files}))


main()
