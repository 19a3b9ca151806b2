#!/usr/bin/env python3
"""Where the runtime image's bytes go, read from the kept image alone.

Usage: size_report.py IMAGE SYMBOLS SOURCE_DIR ZLIB_DIR TOOL_PREFIX BUDGET

IMAGE is the stripped runtime; SYMBOLS the same link before stripping, with
its DWARF line tables. Link-time optimisation inlines across files, so objects
no longer map to code: each instruction is charged to the source file its line
entry names (inlined code to the file it was written in), and each stretch of
constants to the file of the first instruction that refers to it. The rows add
up to the file size: headers, every folder's code and constants, imports,
resources and the padding of sections to the 512-byte file alignment.
"""
import collections
import os
import re
import subprocess
import sys

FOLDERS = ("startup", "package", "script", "wizard", "engine", "uninstall",
           "environment", "support", "zlib")


def run(*args, stdin=None):
    return subprocess.run(args, input=stdin, capture_output=True, text=True, check=True).stdout


def sections(tool, image):
    """(name, vma, size, file offset) of every loaded section."""
    found = []
    for m in re.finditer(r"^\s*\d+ (\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)",
                         run(tool + "objdump", "-h", image), re.M):
        found.append((m.group(1), int(m.group(3), 16), int(m.group(2), 16), int(m.group(4), 16)))
    return found


def main():
    image, symbols, source_dir, zlib_dir, tool = sys.argv[1:6]
    budget = int(sys.argv[6])
    source_dir = os.path.abspath(source_dir) + "/"
    zlib_dir = os.path.abspath(zlib_dir) + "/"

    def folder_of(path):
        if path.startswith(zlib_dir):
            return "zlib"
        if path.startswith(source_dir):
            top = path[len(source_dir):].split("/")[0]
            if top in FOLDERS:
                return top
        return None

    file_size = len(open(image, "rb").read())
    kept = [s for s in sections(tool, image)]
    syms = {}
    for line in run(tool + "nm", symbols).splitlines():
        parts = line.split()
        if len(parts) == 3:
            syms[parts[2]] = int(parts[0], 16)
    text = next(s for s in kept if s[0] == ".text")
    text_start, text_end = text[1], text[1] + text[2]
    constants_start = syms["__constants_start__"]

    # Code: instruction by instruction, through the line table.
    listing = run(tool + "objdump", "-d", "--no-show-raw-insn", "--start-address=%#x" % text_start,
                  "--stop-address=%#x" % constants_start, symbols)
    instructions = []
    references = collections.defaultdict(list)
    for line in listing.splitlines():
        m = re.match(r"^\s*([0-9a-f]+):\t(.*)$", line)
        if not m:
            continue
        address = int(m.group(1), 16)
        instructions.append(address)
        # An address as an immediate, a plain memory operand or a jump table;
        # an indexed operand may be a table's address with its index bias
        # folded in, pointing into the middle of some other constant.
        text = m.group(2)
        for operand in re.findall(r"(?:\$|[ ,]|\*)0x([0-9a-f]{6,8})(?!\w)(?!\((?:%|,%\w+,[^4]))", text):
            target = int(operand, 16)
            if constants_start <= target < text_end:
                references[target].append(address)
    files = run(tool + "addr2line", "-e", symbols,
                stdin="".join("%#x\n" % a for a in instructions)).splitlines()
    bytes_by = collections.Counter()
    bytes_by_file = collections.Counter()
    owner_of = {}
    owner = None
    for i, address in enumerate(instructions):
        path = files[i].split(":")[0]
        if folder_of(path):
            owner = path
        owner_of[address] = owner
        end = instructions[i + 1] if i + 1 < len(instructions) else constants_start
        bytes_by_file[owner] += end - address

    # Constants: stretches that start at a named constant or at an address the
    # code refers to, charged to the first instruction referring to them.
    starts = set(references)
    starts.update(a for a in syms.values() if constants_start <= a < text_end)
    starts.add(constants_start)
    owner = None
    ordered = sorted(starts)
    for i, start in enumerate(ordered):
        if references.get(start):
            owner = owner_of.get(min(references[start])) or owner
        end = ordered[i + 1] if i + 1 < len(ordered) else text_end
        bytes_by_file[owner] += end - start
    for path, n in bytes_by_file.items():
        bytes_by[folder_of(path) if path else "unattributed"] += n

    rows = [("headers", kept[0][3])]
    rows += [(f, bytes_by[f]) for f in FOLDERS]
    if bytes_by["unattributed"]:
        rows.append(("unattributed", bytes_by["unattributed"]))
    padding = 0
    for name, vma, size, offset in kept:
        if name == ".idata":
            rows.append(("imports and data (.idata)", size))
        elif name == ".rsrc":
            rows.append(("resources (.rsrc)", size))
        if offset:
            padding += (size + 511) // 512 * 512 - size
    rows.append(("alignment padding", padding))

    total = sum(n for _, n in rows)
    print("quillset.exe: %d bytes, %d bytes left in the budget of %d" % (file_size, budget - file_size, budget))
    for name, n in rows:
        print("  %7d  %s" % (n, name))
    print("  %7d  in all%s" % (total, "" if total == file_size else "  (MISMATCH: the rows miss bytes)"))
    print("largest source files (code and constants):")
    for path, n in sorted(((p, n) for p, n in bytes_by_file.items() if p), key=lambda r: -r[1])[:int(os.environ.get("SIZE_REPORT_FILES", "12"))]:
        print("  %7d  %s" % (n, path[len(zlib_dir):] if path.startswith(zlib_dir) else path[len(source_dir):]))
    return 0 if total == file_size else 1


if __name__ == "__main__":
    sys.exit(main())
