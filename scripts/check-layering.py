#!/usr/bin/env python3
"""Checks the include graph between folders of the tree.

Fails (exit 1) when the folders include each other in a cycle, when the
operating-system layer or a leaf vocabulary includes a folder above it, when
a device backend includes the device rules, when anything but the registry
reaches into a file system's own folder, or when a type of the FAT family or
of exFAT or NTFS is declared or named outside its folder. Run by the test suite.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCE_TREES = ["cli", "os", "platform", "recovery-core"]

# What each layer may include besides itself (prefix match on folders).
ALLOWED = {
    "recovery-core/errors": [],
    "recovery-core/text": [],
    "recovery-core/bytes": ["recovery-core/errors"],
    "os": ["recovery-core/errors", "recovery-core/text"],
}
# Device backends talk to the operating system; the rules above them are not theirs to use.
FORBIDDEN = {
    "platform/linux": ["platform/device_identity"],
    "platform/windows": ["platform/device_identity"],
}
# Each file system lives in a folder of its own; the rest of the tree knows it
# only through the Volume interface, and only the registry opens it.
FILE_SYSTEM_ROOMS = ["recovery-core/fat", "recovery-core/exfat", "recovery-core/ntfs",
                     "recovery-core/raw"]
REGISTRY = "recovery-core/scan/file_system_registry.cpp"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
# A type declared under a FAT-family or exFAT name (structs, classes, enums, aliases).
FILE_SYSTEM_TYPE = re.compile(
    r'\b(?:struct|class|enum\s+class|enum|union)\s+((?:Fat|Exfat|Ntfs)[A-Z0-9]\w*)'
    r'|\busing\s+((?:Fat|Exfat|Ntfs)[A-Z0-9]\w*)\s*=')


def folder_of(path: str) -> str:
    return str(pathlib.PurePosixPath(path).parent)


def include_graph():
    graph = {}
    for tree in SOURCE_TREES:
        for file in (ROOT / tree).rglob("*"):
            if file.suffix not in (".cpp", ".hpp"):
                continue
            relative = file.relative_to(ROOT).as_posix()
            source = folder_of(relative)
            for target in INCLUDE.findall(file.read_text(encoding="utf-8")):
                if target.startswith("tests/"):
                    graph.setdefault(source, {}).setdefault("tests", []).append(relative)
                    continue
                destination = folder_of(target)
                if destination != source:
                    graph.setdefault(source, {}).setdefault(destination, []).append(relative)
    return graph


def room_of(path: str):
    return next((room for room in FILE_SYSTEM_ROOMS if path.startswith(room + "/")), None)


def room_trespasses():
    problems = []
    for tree in SOURCE_TREES:
        for file in (ROOT / tree).rglob("*"):
            if file.suffix not in (".cpp", ".hpp"):
                continue
            relative = file.relative_to(ROOT).as_posix()
            if relative == REGISTRY:
                continue
            for target in INCLUDE.findall(file.read_text(encoding="utf-8")):
                room = room_of(target)
                if room and room_of(relative) != room:
                    problems.append(f"{relative} reaches into the file system folder {room}")
    return problems


def product_files():
    for tree in SOURCE_TREES:
        for file in (ROOT / tree).rglob("*"):
            if file.suffix in (".cpp", ".hpp"):
                yield file.relative_to(ROOT).as_posix(), file.read_text(encoding="utf-8")


def room_type_leaks():
    """Types of a file system are declared in its folder and named nowhere else."""
    problems = []
    room_types = set()
    files = list(product_files())
    for relative, text in files:
        for match in FILE_SYSTEM_TYPE.finditer(text):
            name = match.group(1) or match.group(2)
            if room_of(relative):
                room_types.add(name)
            else:
                problems.append(f"{relative} declares the file system type {name}")
    if room_types:
        named = re.compile(r"\b(" + "|".join(sorted(room_types)) + r")\b")
        for relative, text in files:
            if room_of(relative) or relative == REGISTRY:
                continue
            for name in sorted(set(named.findall(text))):
                problems.append(f"{relative} names the file system type {name}")
    return problems


def find_cycle(graph):
    state = {}
    stack = []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in graph.get(node, {}):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def main():
    graph = include_graph()
    problems = room_trespasses() + room_type_leaks()
    cycle = find_cycle(graph)
    if cycle:
        problems.append("folder cycle: " + " -> ".join(cycle))
    for source, targets in sorted(graph.items()):
        for destination, files in sorted(targets.items()):
            if destination == "tests":
                problems.append(f"{files[0]} includes test support")
            for layer, allowed in ALLOWED.items():
                if (source + "/").startswith(layer + "/") and not any(
                        (destination + "/").startswith(a + "/") for a in allowed + [layer]):
                    problems.append(f"{files[0]} ({layer}) includes {destination}")
            for layer, forbidden in FORBIDDEN.items():
                if (source + "/").startswith(layer + "/") and any(
                        (destination + "/").startswith(f + "/") for f in forbidden):
                    problems.append(f"{files[0]} ({layer}) includes {destination}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
