#!/usr/bin/env python3
"""Accounts for every symbol the linked macOS programs leave undefined.

    check-symbols.py BUILD ARCH LINK_ROOT SDK

The programs are linked with -undefined dynamic_lookup, since libSystem and
libc++ have only empty stubs here: whatever no stub defines is left for the
loader, and on a Mac a program stops at the first symbol no loaded library
has. So each undefined symbol (llvm-nm -u) of each executable of BUILD must
be one of:
  - exported for ARCH by a library the program loads (LC_LOAD_DYLIB), or one
    that library re-exports, as the text stubs in LINK_ROOT say;
  - declared in the SDK's C headers (SDK/include: libSystem's);
  - one of COMPILER_EMITTED;
  - a name of the C++ runtime, libc++ or libc++abi.
Prints one line per program; under a failure, each symbol left and the
object files that use it.
"""
import json
import os
import re
import subprocess
import sys
import tempfile

import build_tree

# What the compiler and linker refer to without any header declaring it.
COMPILER_EMITTED = {
    "___stack_chk_fail": "called by the stack protector's epilogues",
    "___stack_chk_guard": "the stack protector's canary",
    "___chkstk_darwin": "probes the stack for frames larger than a page",
    "dyld_stub_binder": "binds lazy symbols on x86_64, where lld emits no chained fixups",
    "___bzero": "what the x86_64 back end turns a memset of zeros into",
}

# C++ runtime names without a C++ mangling (libc++abi, the unwinder).
CXX_RUNTIME_PREFIXES = ("___cxa_", "___gxx_", "___dynamic_cast", "__Unwind_")
# Demangled: namespace std (libc++'s std::__1 and the exception classes
# libc++abi keeps in std) and libc++abi's own; operator new and delete.
CXX_RUNTIME_NAME = re.compile(r"^(?:(?:vtable|typeinfo|typeinfo name|VTT) for )?(?:std::|__cxxabiv1::|operator (?:new|delete))")
# The project's own namespaces, and GoogleTest's, which is built here: a
# libc++ template instantiated for one of their types is defined with the
# program, never by the runtime.
PROJECT_NAMESPACES = re.compile(r"\b(?:quillory|platform|fake|testing)::")


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def stub_libraries(link_root, arch):
    """Every library of the stubs under LINK_ROOT: install name -> (exports, re-exports)."""
    libraries = {}
    stubs = set()
    for folder, _, files in os.walk(link_root, followlinks=True):
        stubs.update(os.path.realpath(os.path.join(folder, name)) for name in files if name.endswith(".tbd"))
    with tempfile.TemporaryDirectory() as scratch:
        converted = os.path.join(scratch, "stub.json")
        for stub in sorted(stubs):
            # The stub for ARCH alone, as JSON (TAPI's version 5).
            extract = subprocess.run(["llvm-readtapi-19", "-extract", f"--arch={arch}", "--filetype=tbd-v5",
                                      stub, "-o", converted], capture_output=True)
            if extract.returncode != 0:
                continue  # no slice for ARCH
            with open(converted) as file:
                document = json.load(file)
            for library in [document["main_library"]] + document.get("libraries", []):
                name = library["install_names"][0]["name"]
                libraries[name] = (exported_names(library, arch), reexported_libraries(library, arch))
    return libraries


def for_arch(entries, arch):
    return [entry for entry in entries if "targets" not in entry or f"{arch}-macos" in entry["targets"]]


def exported_names(library, arch):
    names = set()
    for entry in for_arch(library.get("exported_symbols", []) + library.get("reexported_symbols", []), arch):
        for section in ("data", "text"):
            kinds = entry.get(section, {})
            for kind in ("global", "weak", "thread_local"):
                names.update(kinds.get(kind, []))
            for name in kinds.get("objc_class", []):
                names.update({f"_OBJC_CLASS_$_{name}", f"_OBJC_METACLASS_$_{name}"})
            names.update(f"_OBJC_EHTYPE_$_{name}" for name in kinds.get("objc_eh_type", []))
            names.update(f"_OBJC_IVAR_$_{name}" for name in kinds.get("objc_ivar", []))
    return names


def reexported_libraries(library, arch):
    return [name for entry in for_arch(library.get("reexported_libraries", []), arch) for name in entry["names"]]


def loaded_exports(program, libraries):
    """What the libraries the program loads export, with their re-exports."""
    loaded = [line.split(" (compatibility")[0].strip() for line in run("llvm-otool-19", "-L", program).splitlines()[1:]]
    exports, seen = set(), set()
    while loaded:
        name = loaded.pop()
        if name in seen or name not in libraries:
            continue
        seen.add(name)
        exports |= libraries[name][0]
        loaded += libraries[name][1]
    return exports


def c_declarations(sdk):
    """Names the SDK's C headers declare: functions, and variables declared extern."""
    functions, variables = set(), set()
    include = os.path.join(sdk, "include")
    for folder, subfolders, files in os.walk(include):
        if folder == include and "c++" in subfolders:
            subfolders.remove("c++")
        for name in files:
            with open(os.path.join(folder, name), errors="replace") as file:
                text = file.read()
            text = re.sub(r"/\*.*?\*/|//[^\n]*", " ", text, flags=re.S)
            text = re.sub(r"^\s*#(?:[^\n]*\\\n)*[^\n]*", " ", text, flags=re.M)
            functions.update(re.findall(r"\b([A-Za-z_]\w*)\s*\(", text))
            for statement in re.split(r"[;{}]", text):
                if not re.search(r"\b(?:extern|\w+_EXPORT|\w+_EXTERN)\b", statement):
                    continue
                # Drop attribute macros with their arguments, and array bounds.
                while True:
                    shorter = re.sub(r"\w*\s*\([^()]*\)|\[[^\[\]]*\]", " ", statement)
                    if shorter == statement:
                        break
                    statement = shorter
                declared = re.findall(r"\b[A-Za-z_]\w*", statement)
                if declared:
                    variables.add(declared[-1])
    return functions | variables


def demangled(names):
    """Mach-O C++ names demangled (Mach-O adds an underscore to the Itanium name)."""
    if not names:
        return {}
    output = subprocess.run(["llvm-cxxfilt-19"], input="\n".join(name[1:] for name in names),
                            check=True, capture_output=True, text=True).stdout
    return dict(zip(names, output.splitlines()))


def unaccounted(undefined, exports, declared):
    left = []
    cxx_names = demangled([name for name in undefined if name.startswith("__Z")])
    for name in undefined:
        if name in exports or name in COMPILER_EMITTED or name.startswith(CXX_RUNTIME_PREFIXES):
            continue
        if name in cxx_names:
            readable = cxx_names[name]
            if CXX_RUNTIME_NAME.match(readable) and not PROJECT_NAMESPACES.search(readable):
                continue
            left.append(f"{name} ({readable})")
            continue
        # A C name, less Mach-O's underscore and any $-variant (fopen$DARWIN_EXTSN).
        if name.startswith("_") and name[1:].split("$")[0] in declared:
            continue
        left.append(name)
    return left


def users(inputs):
    """Symbol -> the object files (archive members too) among INPUTS that use it."""
    found = {}
    for line in run("llvm-nm-19", "-u", "-A", *inputs).splitlines():
        where, _, name = line.rpartition(" ")
        found.setdefault(name, []).append(where.rstrip(": "))
    return found


def main(build, arch, link_root, sdk):
    libraries = stub_libraries(link_root, arch)
    declared = c_declarations(sdk)
    failed = False
    for executable in build_tree.executables(build):
        program = os.path.join(build, executable.artifact)
        label = executable.artifact
        if not os.path.exists(program):
            continue  # not linked: the link line says so
        undefined = run("llvm-nm-19", "-u", program).split()
        left = unaccounted(undefined, loaded_exports(program, libraries), declared)
        if not left:
            print(f"{'ok':<6}{arch:<10}{'symbols':<9}{label}: {len(undefined)} undefined, each accounted for")
            continue
        failed = True
        print(f"{'FAIL':<6}{arch:<10}{'symbols':<9}{label}: {len(left)} of {len(undefined)} undefined unaccounted for")
        used = users(executable.inputs(build))
        for entry in left:
            symbol = entry.split(" ")[0]
            used_by = [os.path.relpath(path, build) for path in used.get(symbol, [])]
            print(f"      {entry}, used by {', '.join(used_by) or 'no object file of its link line'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
