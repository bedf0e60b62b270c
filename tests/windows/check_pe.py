#!/usr/bin/env python3
"""Checks a Windows build of the module as the host will load it.

    check_pe.py --objdump OBJDUMP --nm NM --machine i386|x86-64 MODULE [--objects LIB]

- the file is a PE32 (i386) or PE32+ (x86-64) DLL;
- it exports exactly one function, GetFilterTable, at ordinal 1;
- it imports from system DLLs only (KERNEL32, USER32, GDI32, msvcrt or the
  api-ms-win-crt set): no libgcc, libstdc++ or winpthread DLL to ship beside it;
- it can be loaded at any address: DYNAMIC_BASE set, relocations present;
- loading it runs nothing of the module's: every TLS callback belongs to the
  C runtime, and (with --objects) the module's own objects carry no DllMain,
  no TLS callback, no thread-local data and no static constructor. The
  constructors the C runtime runs at load (all from the toolchain's libraries)
  are named in the output.

Prints one line per finding and exits 1 on any.
"""
import argparse
import os
import re
import struct
import subprocess
import sys

ALLOWED_IMPORTS = re.compile(r"^(kernel32|user32|gdi32|msvcrt|api-ms-win-crt-[a-z0-9-]+)\.dll$", re.I)
RUNTIME_DLLS = re.compile(r"^(libgcc|libstdc\+\+|libwinpthread)", re.I)
# The mingw-w64 C runtime's own TLS callbacks (thread-local constructors and
# destructors of the runtime); decorated as on i686 or plain as on x86-64.
RUNTIME_TLS_CALLBACKS = re.compile(r"^_*(dyn_tls_init|dyn_tls_dtor)(@12)?$")

problems = []


def problem(text):
    problems.append(text)
    print("check_pe: FAIL: " + text)


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def check_headers(dump, machine):
    fmt = re.search(r"file format (\S+)", dump)
    want_fmt, want_magic = ("pei-i386", "010b") if machine == "i386" else ("pei-x86-64", "020b")
    if not fmt or fmt.group(1) != want_fmt:
        problem("file format is %s, expected %s" % (fmt.group(1) if fmt else "unknown", want_fmt))
    magic = re.search(r"^Magic\s+([0-9a-f]+)", dump, re.M)
    if not magic or magic.group(1) != want_magic:
        problem("optional header magic is %s, expected %s" % (magic.group(1) if magic else "missing", want_magic))
    chars = re.search(r"^Characteristics 0x([0-9a-f]+)", dump, re.M)
    c = int(chars.group(1), 16) if chars else 0
    if not c & 0x2000:
        problem("not marked as a DLL (characteristics 0x%04x)" % c)
    if c & 0x0001:
        problem("relocations stripped: the image can only load at its preferred base")
    dll = re.search(r"^DllCharacteristics\s+([0-9a-f]+)", dump, re.M)
    d = int(dll.group(1), 16) if dll else 0
    if not d & 0x0040:
        problem("DYNAMIC_BASE not set (DllCharacteristics 0x%04x)" % d)
    if not d & 0x0100:
        problem("NX_COMPAT not set (DllCharacteristics 0x%04x)" % d)
    reloc = re.search(r"^Entry 5 ([0-9a-f]+) ([0-9a-f]+) Base Relocation Directory", dump, re.M)
    if not reloc or int(reloc.group(2), 16) == 0:
        problem("no base relocation directory")


def check_exports(dump):
    base = re.search(r"^Ordinal Base\s+(\d+)", dump, re.M)
    eat = re.findall(r"^\s*\[\s*(\d+)\] \+base\[\s*(\d+)\]", dump, re.M)
    names_block = re.search(r"\[Ordinal/Name Pointer\] Table[^\n]*\n((?:\s*\[\s*\d+\] \S+\n)*)", dump)
    names = re.findall(r"\[\s*(\d+)\] (\S+)", names_block.group(1)) if names_block else []
    if not base:
        problem("no export table")
        return
    ordinals = [int(o) for _, o in eat]
    if ordinals != [1]:
        problem("exported ordinals are %s, expected exactly [1]" % ordinals)
    if [n for _, n in names] != ["GetFilterTable"]:
        problem("exported names are %s, expected exactly ['GetFilterTable']" % [n for _, n in names])
    print("check_pe: exports: %s" % ", ".join("%s @%d" % (n, int(base.group(1)) + int(i)) for i, n in names))


def check_imports(dump):
    dlls = re.findall(r"^\s*DLL Name: (\S+)", dump, re.M)
    if not dlls:
        problem("no import table")
    for name in dlls:
        if RUNTIME_DLLS.match(name):
            problem("imports %s: the GCC runtime must be linked in statically" % name)
        elif not ALLOWED_IMPORTS.match(name):
            problem("imports %s, which is not a system DLL" % name)
    print("check_pe: imports: %s" % ", ".join(dlls))


class Image:
    """The parts of a PE file these checks read."""

    def __init__(self, path):
        self.data = data = open(path, "rb").read()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        nsections, = struct.unpack_from("<H", data, pe + 6)
        opt_size, = struct.unpack_from("<H", data, pe + 20)
        opt = pe + 24
        self.pe32plus = struct.unpack_from("<H", data, opt)[0] == 0x20B
        self.image_base = (struct.unpack_from("<Q", data, opt + 24)[0] if self.pe32plus
                           else struct.unpack_from("<I", data, opt + 28)[0])
        self.directories = opt + (112 if self.pe32plus else 96)
        self.word = "<Q" if self.pe32plus else "<I"
        self.step = 8 if self.pe32plus else 4
        self.sections = []
        for i in range(nsections):
            sec = opt + opt_size + 40 * i
            vsize, va, rsize, rptr = struct.unpack_from("<IIII", data, sec + 8)
            self.sections.append((va, max(vsize, rsize), rptr))

    def offset(self, rva):
        for va, size, rptr in self.sections:
            if va <= rva < va + size:
                return rva - va + rptr
        raise ValueError("address 0x%x lies in no section" % rva)

    def pointer_at(self, offset):
        return struct.unpack_from(self.word, self.data, offset)[0]

    def pointers(self, va):
        """The null-terminated list of addresses at virtual address va."""
        found = []
        o = self.offset(va - self.image_base)
        while True:
            v = self.pointer_at(o)
            if not v:
                return found
            found.append(v)
            o += self.step


def tls_callbacks(image):
    """Addresses of the TLS callbacks, read from the file's TLS directory."""
    tls_rva, tls_size = struct.unpack_from("<II", image.data, image.directories + 9 * 8)
    if not tls_size:
        return []
    callbacks_va = image.pointer_at(image.offset(tls_rva) + 3 * image.step)
    return image.pointers(callbacks_va) if callbacks_va else []


def symbol_table(path, nm):
    symbols = {}
    for line in run(nm, path).splitlines():
        parts = line.split()
        if len(parts) == 3:
            symbols.setdefault(int(parts[0], 16), []).append(parts[2])
    return symbols


def report_constructors(image, symbols):
    """Names the static constructors the C runtime's start-up runs at load:
    they come from the toolchain's libraries, as the module's own objects
    have none (checked with --objects)."""
    heads = [a for a, names in symbols.items() if any(n.lstrip("_") == "CTOR_LIST__" for n in names)]
    if not heads:
        return
    o = image.offset(heads[0] - image.image_base) + image.step  # the first word is a marker
    named = []
    while True:
        v = image.pointer_at(o)
        if v in (0, (1 << (8 * image.step)) - 1):
            break
        names = [n for n in symbols.get(v, []) if not n.startswith(".")] or symbols.get(v, ["0x%x" % v])
        named.append(names[0].replace(".text.startup.", ""))
        o += image.step
    print("check_pe: constructors the C runtime runs at load: %s" % (", ".join(named) or "none"))


def check_tls(image, symbols):
    callbacks = tls_callbacks(image)
    for address in callbacks:
        names = symbols.get(address, [])
        if not names:
            problem("TLS callback at 0x%x cannot be named (stripped?); it may run code on load" % address)
        elif not any(RUNTIME_TLS_CALLBACKS.match(n) for n in names):
            problem("TLS callback %s runs code whenever a thread starts or ends" % names[0])
    def best(address):
        names = symbols.get(address, [])
        return next((n for n in names if RUNTIME_TLS_CALLBACKS.match(n)), names[0] if names else "0x%x" % address)

    named = [best(a) for a in callbacks]
    print("check_pe: TLS callbacks: %s" % (", ".join(named) + " (the C runtime's)" if named else "none"))


def check_objects(lib, objdump, nm):
    headers = run(objdump, "-h", lib)
    member = None
    for line in headers.splitlines():
        m = re.match(r"^(\S+):\s+file format", line)
        if m:
            member = m.group(1)
            continue
        m = re.match(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)", line)
        if not m or int(m.group(2), 16) == 0:
            continue
        section = m.group(1)
        if section.startswith((".ctors", ".init_array")):
            problem("%s has a static constructor (%s): it would run when the DLL loads" % (member, section))
        elif section.startswith(".CRT$XL"):
            problem("%s adds a TLS callback (%s)" % (member, section))
        elif section.startswith(".tls"):
            problem("%s has thread-local data (%s)" % (member, section))
    for line in run(nm, "--defined-only", lib).splitlines():
        parts = line.split()
        if len(parts) != 3:
            continue
        if re.match(r"^_*(DllMain|DllEntryPoint)(@12)?$", parts[2]):
            problem("the module defines %s: it would run when the DLL loads" % parts[2])
        elif parts[2].lstrip("_").startswith("emutls_v."):
            problem("the module has thread-local data (%s)" % parts[2])
    # The C++ runtime's heap, exceptions and guarded statics would bring its
    # threading layer (semaphores, critical sections) into the DLL's imports.
    for line in run(nm, "--undefined-only", lib).splitlines():
        name = line.split()[-1] if line.split() else ""
        if re.match(r"^_*(Znw|Zna|Zdl|Zda|cxa_guard_acquire|cxa_throw|cxa_allocate_exception)", name):
            problem("the module's objects use the C++ runtime (%s)" % name)
    print("check_pe: the module's own objects: no DllMain, TLS callback, thread-local data, static constructor "
          "or C++ runtime heap, exception or guarded static"
          if not problems else "check_pe: the module's own objects checked")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("module")
    ap.add_argument("--objdump")
    ap.add_argument("--nm")
    ap.add_argument("--machine", choices=["i386", "x86-64"])
    ap.add_argument("--objects")
    args = ap.parse_args()
    if not os.path.isfile(args.module):
        print("check_pe: FAIL: %s was not built" % args.module)
        return 1
    dump = run(args.objdump, "-p", args.module)
    check_headers(dump, args.machine)
    check_exports(dump)
    check_imports(dump)
    image = Image(args.module)
    symbols = symbol_table(args.module, args.nm)
    check_tls(image, symbols)
    report_constructors(image, symbols)
    if args.objects:
        check_objects(args.objects, args.objdump, args.nm)
    if problems:
        print("check_pe: %d problem(s) in %s" % (len(problems), args.module))
        return 1
    print("check_pe: %s passes" % args.module)
    return 0


if __name__ == "__main__":
    sys.exit(main())
