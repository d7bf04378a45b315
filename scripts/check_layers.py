#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The layers, bottom up: base -> probe -> bridge -> app and cli. app and cli
sit side by side and never include each other; web/ is the page as data,
embedded by app and cli. Tests, benchmarks and packaging sit above all.
"""
import pathlib
import re
import sys

RANK = {"base": 0, "probe": 1, "bridge": 2, "app": 3, "cli": 3}
# Who may include the generated page header.
WEB_USERS = {"app", "cli"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main() -> int:
    root = pathlib.Path(__file__).resolve().parent.parent
    bad = []
    for layer in RANK:
        for f in sorted((root / layer).rglob("*")):
            if f.suffix not in (".h", ".cpp"):
                continue
            for target in INCLUDE.findall(f.read_text(encoding="utf-8", errors="replace")):
                top = target.split("/", 1)[0]
                rel = f.relative_to(root)
                if top == "web":
                    if layer not in WEB_USERS:
                        bad.append(f"{rel}: includes {target} (the page is for app and cli)")
                elif top in RANK and top != layer and RANK[top] >= RANK[layer]:
                    bad.append(f"{rel}: includes {target} (layer {top} is not below {layer})")
    for line in bad:
        print("layers:", line, file=sys.stderr)
    if not bad:
        print("layers: every include points down")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
