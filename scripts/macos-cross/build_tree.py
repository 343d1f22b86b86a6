#!/usr/bin/env python3
"""The executables of a CMake build folder, read from CMake's file API.

The folder must have been configured with the query file
.cmake/api/v1/query/codemodel-v2 in place. Run as a script, it prints one
line per executable: its target name, a tab, its file (relative to the
build folder).
"""
import glob
import json
import os
import shlex
import sys
from dataclasses import dataclass


@dataclass
class Executable:
    name: str
    artifact: str  # relative to the build folder
    objects_dir: str  # its own object files, under the build folder
    archives: list  # the static libraries of its link line

    def inputs(self, build):
        """The object files and static libraries it is linked from."""
        objects = glob.glob(os.path.join(build, self.objects_dir, "**", "*.o"), recursive=True)
        return sorted(objects) + [os.path.join(build, archive) for archive in self.archives]


def _reply(build, name):
    with open(os.path.join(build, ".cmake", "api", "v1", "reply", name)) as file:
        return json.load(file)


def executables(build):
    indexes = sorted(glob.glob(os.path.join(build, ".cmake", "api", "v1", "reply", "index-*.json")))
    if not indexes:
        raise SystemExit(f"{build}: no reply of CMake's file API (configure with .cmake/api/v1/query/codemodel-v2)")
    index = _reply(build, os.path.basename(indexes[-1]))
    codemodel = _reply(build, index["reply"]["codemodel-v2"]["jsonFile"])
    found = []
    for entry in codemodel["configurations"][0]["targets"]:
        target = _reply(build, entry["jsonFile"])
        if target["type"] != "EXECUTABLE":
            continue
        archives = []
        for fragment in target.get("link", {}).get("commandFragments", []):
            for word in shlex.split(fragment["fragment"]):
                if fragment["role"] == "libraries" and word.endswith(".a"):
                    archives.append(word)
        found.append(Executable(
            name=target["name"],
            artifact=target["artifacts"][0]["path"],
            objects_dir=os.path.join(target["paths"]["build"], "CMakeFiles", target["name"] + ".dir"),
            archives=archives))
    return sorted(found, key=lambda executable: executable.name)


if __name__ == "__main__":
    for executable in executables(sys.argv[1]):
        print(f"{executable.name}\t{executable.artifact}")
