#!/usr/bin/env python3
"""Checks that dependencies point one way: front ends (and the fuzz targets) -> engine -> script API
-> net and listings -> util -> platform. A source or test file of one layer (<layer>/ and tests/<layer>/) may include
headers of its own layer and of the layers below it only, never one of a higher layer or of a
sibling on the same level. Lua stays out of the listings model and the layers under it, Qt out of
everything but the desktop program.

    tools/check_layering.py [source folder]

Prints each offending include and exits with 1 when there is one (ctest runs it as "Layering").
"""
import pathlib
import re
import sys

# fuzz/ holds the fuzz targets: like a front end, they may reach every layer below them.
LEVELS = {"platform": 0, "util": 1, "listings": 2, "net": 2, "scriptapi": 3, "engine": 4, "console": 5, "desktop": 5,
          "fuzz": 5}
LUA_FROM = LEVELS["scriptapi"]   # the lowest level that may include Lua's headers
LUA_HEADERS = {"lua.hpp", "lua.h", "lauxlib.h", "lualib.h", "luaconf.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of_header(name):
    """The layer a quoted include names: "engine/x.h" or "tests/engine/x.h" is engine's."""
    parts = name.split("/")
    if parts[0] == "tests" and len(parts) > 2:
        parts = parts[1:]
    return parts[0] if parts[0] in LEVELS else None


def problems(root):
    for layer, level in LEVELS.items():
        for folder in (root / layer, root / "tests" / layer):
            if not folder.is_dir():
                continue
            for path in sorted(folder.rglob("*")):
                if path.suffix not in (".h", ".cpp", ".in"):
                    continue
                for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    quoted, header = match.group(1) == '"', match.group(2)
                    where = f"{path.relative_to(root)}:{number}"
                    if quoted:
                        other = layer_of_header(header)
                        if other and other != layer and LEVELS[other] >= level:
                            yield f"{where}: {layer} must not include {header} ({other} is not below it)"
                    elif header in LUA_HEADERS and level < LUA_FROM:
                        yield f"{where}: {layer} must not include Lua ({header})"
                    elif header.startswith("Q") and layer != "desktop":
                        yield f"{where}: {layer} must not include Qt ({header})"


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    found = list(problems(root))
    for problem in found:
        print(problem)
    if found:
        print(f"{len(found)} include(s) against the layering")
        return 1
    print("Layering kept")
    return 0


if __name__ == "__main__":
    sys.exit(main())
