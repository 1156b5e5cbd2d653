#!/usr/bin/env python3
"""Fails when a source file under src/ includes a header of a folder its own folder may not use.

Prints one "FILE:LINE includes X against the layer order" line per offending include. The
compiler would reject most of these as missing files; this says why.
"""
import pathlib
import re
import sys

# Folder -> the folders it builds on directly; what those build on is allowed too.
LAYERS = {
    "platform/foundation": [],
    "platform/json": ["platform/foundation"],
    "platform/keychain": ["platform/foundation"],
    "platform/net": ["platform/foundation"],
    "platform/ui": ["platform/net"],
    "platform/http": ["platform/net"],
    "platform/frameworks": ["platform/ui", "platform/http", "platform/json", "platform/keychain"],
    "model": ["platform/frameworks"],
    "backend": ["model"],
    "analytics": ["platform/frameworks"],
    "toolkit": ["platform/frameworks"],
    "signin": ["toolkit"],
    "config": ["analytics", "signin"],
    "app": ["backend", "analytics"],
    "services": ["app", "signin"],
    "account": ["services"],
    "quiz": ["services"],
    "browse": ["services", "quiz"],
    "main": ["account", "quiz", "browse", "config"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def reachable(folder):
    seen, todo = set(), [folder]
    while todo:
        for below in LAYERS[todo.pop()]:
            if below not in seen:
                seen.add(below)
                todo.append(below)
    return seen


def folder_of(path):
    """The layer a path inside src/ belongs to, or None for anything else."""
    parts = pathlib.PurePosixPath(path).parts
    for n in (2, 1):
        key = "/".join(parts[:n])
        if len(parts) > n and key in LAYERS:
            return key
    return None


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    src = root / "src"
    allowed = {f: reachable(f) | {f} for f in LAYERS}
    faults = 0
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        rel = path.relative_to(src).as_posix()
        own = folder_of(rel)
        if own is None:
            print(f"src/{rel}: folder missing from the layer table in {sys.argv[0]}")
            faults += 1
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = folder_of(match.group(1))
            if target is not None and target not in allowed[own]:
                print(f"src/{rel}:{number} includes {match.group(1)} against the layer order")
                faults += 1
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
