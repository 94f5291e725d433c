#!/usr/bin/env python3
"""Generates the lomari library's derived sources from schema/lomari.py.

Outputs (all under --out):
  include/lomari/lomari_types.h     C layouts of every instance, layout assertions
  include/lomari/lomari_api.h       declarations of every stamped entry point,
                                    each with its comment
  include/lomari/lomari.hpp         the C++ interface over them
  include/lomari/lomari_ids.h       declarations of the identifier constants
  include/lomari/lomari_catalogue.h every type-info record as plain C data
  src/schema_counts.h               how many of each schema item there are
  src/schema_data.cpp               type-info and variant records, null objects,
                                    descriptor tables, trace tables, identifiers
  src/trace_points.h                trace point keys of each block
  src/stamps_<family>.cpp           the exported entry points of each family
  test/schema_view.h, .cpp          the descriptor tables as tests see them
  lomari.map                        linker version script (the ABI list)
  ostrel.bin                        the type manifest section payload
  stamped.txt                       every name the generator stamped
  share/lomari.xsd                  XML Schema of the messages, table records and
                                    the documents of many items
  tools/tool_schema.h               the element shapes and lomari.xsd for the tool

The model (model.py) works out every layout fact once; each output has its
emitter in emit/; each family of entry points is a module in families/
(see famlib.py).
"""

import argparse
import importlib.util
import os
import sys

from famlib import Entry
from model import Model
from emit import (api_h, catalogue, counts_h, hpp, ids_h, manifest, schema_data, stamps, test_view,
                  tool_schema, trace_data, types_h, xsd)

HERE = os.path.dirname(os.path.abspath(__file__))


def load_families():
    fams = []
    d = os.path.join(HERE, "families")
    for fn in sorted(os.listdir(d)):
        if not fn.endswith(".py") or fn.startswith("_"):
            continue
        loader_info = importlib.util.spec_from_file_location("fam_" + fn[:-3], os.path.join(d, fn))
        mod = importlib.util.module_from_spec(loader_info)
        loader_info.loader.exec_module(mod)
        fams.append((fn[:-3], mod))
    return fams


def write_if_changed(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    new = data if isinstance(data, bytes) else data.encode()
    if os.path.exists(path):
        with open(path, "rb") as f:
            if f.read() == new:
                return
    with open(path, "wb") as f:
        f.write(new)


def read_abi(path):
    with open(path) as f:
        return {ln.strip() for ln in f if ln.strip() and not ln.startswith("#")}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--exports", required=True, help="the ABI list")
    ap.add_argument("--list-families", action="store_true")
    a = ap.parse_args()
    fams = load_families()
    if a.list_families:
        print(";".join(n for n, _ in fams))
        return
    M = Model()
    allowed = read_abi(a.exports)
    built = [(name, mod.entries(M, Entry)) for name, mod in fams]
    stamped = [e.name for _, entries in built for e in entries]
    for n in stamped:
        if n not in allowed:
            sys.exit("generate.py: %s is not in the ABI list" % n)
    if len(set(stamped)) != len(stamped):
        sys.exit("generate.py: a name is stamped twice")

    out = lambda rel, data: write_if_changed(os.path.join(a.out, rel), data)  # noqa: E731
    out("include/lomari/lomari_types.h", types_h.emit(M))
    notes = {name: getattr(mod, "HEADER_NOTE", "") for name, mod in fams}
    docs = {name: mod.DOCS for name, mod in fams}
    titles = {name: mod.TITLE for name, mod in fams}
    out("include/lomari/lomari_api.h", api_h.emit(M, built, notes, docs, titles))
    out("include/lomari/lomari_ids.h", ids_h.emit(M))
    out("include/lomari/lomari.hpp", hpp.emit(M))
    out("include/lomari/lomari_catalogue.h", catalogue.emit(M))
    out("src/schema_counts.h", counts_h.emit(M))
    out("src/schema_data.cpp", schema_data.emit(M))
    out("src/trace_points.h", trace_data.emit_points_h(M))
    preludes = {name: mod.prelude(M) for name, mod in fams if hasattr(mod, "prelude")}
    for name, entries in built:
        out("src/stamps_%s.cpp" % name, stamps.emit(name, entries, preludes.get(name, "")))
    view_h, view_cpp = test_view.emit(M)
    out("test/schema_view.h", view_h)
    out("test/schema_view.cpp", view_cpp)
    out("lomari.map", "{\n  global:\n" + "".join("    %s;\n" % n for n in sorted(allowed)) + "  local: *;\n};\n")
    out("ostrel.bin", manifest.emit(M))
    out("stamped.txt", "".join(n + "\n" for n in sorted(stamped)))
    out("share/lomari.xsd", xsd.emit(M))
    out("tools/tool_schema.h", tool_schema.emit(M))


if __name__ == "__main__":
    main()
