#!/usr/bin/env python3
"""Checks the universal executable of an assembled Quillory Helper.app.

    check-bundle.py APP

One line per check and architecture: both slices; each one for macOS 14 and
later, loading exactly LOADED; the file named by CFBundleExecutable; the
arm64 slice signed (ld64.lld signs it ad hoc, as Apple's linker does, since
arm64 macOS runs no unsigned code).

The tools are LLVM's, as Debian names them, unless the environment names
others: LIPO and OTOOL (on a Mac, Xcode's: LIPO=lipo OTOOL=otool).
"""
import os
import plistlib
import re
import subprocess
import sys
import tempfile

LIPO = os.environ.get("LIPO") or "llvm-lipo-19"
OTOOL = os.environ.get("OTOOL") or "llvm-otool-19"

ARCHITECTURES = ("arm64", "x86_64")
MINIMUM_MACOS = "14.0"
PLATFORM_MACOS = "1"  # LC_BUILD_VERSION's PLATFORM_MACOS

# What the executable loads: the frameworks of its link line
# (platform/macos/CMakeLists.txt); CoreFoundation and libobjc, which
# Foundation re-exports, and CoreServices (UCKeyTranslate), which Carbon
# and ApplicationServices re-export: the linker hoists a public library it
# takes symbols from into a load command of its own (Apple's ld64 does the
# same unless given -no_implicit_dylibs); the C and C++ runtimes the
# compiler driver links.
LOADED = [
    "/System/Library/Frameworks/Foundation.framework/Versions/C/Foundation",
    "/System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation",
    "/usr/lib/libobjc.A.dylib",
    "/System/Library/Frameworks/AppKit.framework/Versions/C/AppKit",
    "/System/Library/Frameworks/ApplicationServices.framework/Versions/A/ApplicationServices",
    "/System/Library/Frameworks/CoreGraphics.framework/Versions/A/CoreGraphics",
    "/System/Library/Frameworks/Carbon.framework/Versions/A/Carbon",
    "/System/Library/Frameworks/CoreServices.framework/Versions/A/CoreServices",
    "/System/Library/Frameworks/ServiceManagement.framework/Versions/A/ServiceManagement",
    "/usr/lib/libc++.1.dylib",
    "/usr/lib/libSystem.B.dylib",
]

results = []


def report(passed, arch, text, details=()):
    results.append(passed)
    print(f"{'ok' if passed else 'FAIL':<6}{arch:<10}{'bundle':<9}{text}")
    for line in details if not passed else ():
        print(f"      {line}")


def tool(*command):
    run = subprocess.run(command, capture_output=True, text=True)
    return run.stdout if run.returncode == 0 else ""


def load_commands(executable, arch):
    """Each load command of the slice as a dict of its fields."""
    commands = []
    # llvm-otool reads the first slice of a universal file, whatever -arch
    # says; a thin copy is read the same by every otool.
    with tempfile.TemporaryDirectory() as scratch:
        thin = os.path.join(scratch, arch)
        tool(LIPO, "-thin", arch, executable, "-output", thin)
        listing = tool(OTOOL, "-l", thin) if os.path.exists(thin) else ""
    for line in listing.splitlines():
        words = line.split()
        if len(words) < 2:
            continue
        if words[0] == "cmd":
            commands.append({})
        if commands:
            commands[-1].setdefault(words[0], " ".join(words[1:]))
    return commands


def main(app):
    with open(os.path.join(app, "Contents", "Info.plist"), "rb") as file:
        name = plistlib.load(file).get("CFBundleExecutable", "")
    executable = os.path.join(app, "Contents", "MacOS", name)
    report(bool(name) and os.path.isfile(executable), "universal",
           f"Contents/MacOS/{name}: the file CFBundleExecutable names")

    slices = tool(LIPO, "-archs", executable).split()
    report(sorted(slices) == sorted(ARCHITECTURES), "universal",
           f"{name}: slices {', '.join(slices) or 'none'} (wanted {', '.join(ARCHITECTURES)})")

    for arch in ARCHITECTURES:
        commands = load_commands(executable, arch)
        builds = [command for command in commands if command["cmd"] == "LC_BUILD_VERSION"]
        report(len(builds) == 1 and builds[0].get("platform") == PLATFORM_MACOS
               and builds[0].get("minos") == MINIMUM_MACOS, arch,
               f"LC_BUILD_VERSION: macOS, minos {MINIMUM_MACOS}",
               [f"platform {build.get('platform')}, minos {build.get('minos')}" for build in builds])

        loaded = [re.sub(r" \(offset \d+\)$", "", command.get("name", ""))
                  for command in commands if command["cmd"] == "LC_LOAD_DYLIB"]
        missing = [library for library in LOADED if library not in loaded]
        extra = [library for library in loaded if library not in LOADED]
        report(not missing and not extra, arch,
               f"LC_LOAD_DYLIB: {', '.join(os.path.basename(library) for library in LOADED)}",
               [f"not loaded: {library}" for library in missing] + [f"loaded besides: {library}" for library in extra])

    signed = any(command["cmd"] == "LC_CODE_SIGNATURE" for command in load_commands(executable, "arm64"))
    report(signed, "arm64", "LC_CODE_SIGNATURE: signed (ad hoc, by the linker)")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
