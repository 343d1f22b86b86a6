#!/usr/bin/env python3
"""Grants permissions on a throwaway Mac by writing rows into a TCC database.

    seed-tcc.py DATABASE RECORD ROW...

For the macOS workflow on GitHub's runners, whose System Integrity
Protection is off; never on a Mac someone uses. Run as root for the system
database (/Library/Application Support/com.apple.TCC/TCC.db). Each ROW is
one of

    SERVICE:bundle:IDENTIFIER:CODE   a bundle-identifier client (client_type
                                     0) with the compiled designated
                                     requirement of CODE (an app bundle or
                                     program) as its requirement blob
    SERVICE:path:PATH                a path client (client_type 1), no
                                     requirement
    SERVICE:ancestors:PID            a path client for PID's program and for
                                     each of its ancestors up to launchd: the
                                     process the system holds responsible
                                     for PID is among them

and SERVICE a TCC service such as kTCCServiceAccessibility. The rows are
written with INSERT OR REPLACE, allowed, into the columns the database's
access table has (they differ between macOS versions: macOS 14 added pid,
pid_version, boot_uuid and last_reminded), and what the table then holds
for these clients is written to RECORD.
"""
import os
import sqlite3
import subprocess
import sys
import tempfile
import time

ALLOWED = 2  # auth_value: allowed
# auth_reason 4 and auth_version 1, as the rows the runner image writes itself.
AUTH_REASON = 4
AUTH_VERSION = 1


def run(*command, stdin=None):
    done = subprocess.run(command, input=stdin, capture_output=True)
    if done.returncode != 0:
        raise SystemExit(f"{' '.join(command)} failed: {done.stderr.decode(errors='replace').strip()}")
    return done


def requirement_blob(code):
    """The compiled designated requirement of CODE (ad hoc: cdhash H"...")."""
    shown = run("codesign", "--display", "--requirements", "-", code)
    text = shown.stdout.decode() + shown.stderr.decode()
    designated = [line for line in text.splitlines() if line.startswith("designated => ")]
    if not designated:
        raise SystemExit(f"{code}: codesign names no designated requirement:\n{text}")
    requirement = designated[0][len("designated => "):]
    with tempfile.TemporaryDirectory() as scratch:
        blob = os.path.join(scratch, "requirement.bin")
        run("csreq", "-r-", "-b", blob, stdin=requirement.encode())
        with open(blob, "rb") as file:
            return requirement, file.read()


def program_of(pid):
    """The executable file of PID: the first text file lsof lists for it."""
    listing = subprocess.run(["lsof", "-a", "-p", str(pid), "-d", "txt", "-Fn"], capture_output=True, text=True)
    names = [line[1:] for line in listing.stdout.splitlines() if line.startswith("n/")]
    return names[0] if names else None


def ancestors(pid):
    """The programs of PID and of each process above it, up to launchd."""
    programs = []
    while pid > 1:
        parent = run("ps", "-o", "ppid=", "-p", str(pid)).stdout.decode().strip()
        program = program_of(pid)
        if program and program not in programs:
            programs.append(program)
        if not parent.isdigit():
            break
        pid = int(parent)
    return programs


def clients(row):
    """(service, client, client_type, csreq, note) for one ROW argument."""
    service, kind, rest = row.split(":", 2)
    if kind == "bundle":
        identifier, code = rest.split(":", 1)
        requirement, blob = requirement_blob(code)
        return [(service, identifier, 0, blob, requirement)]
    if kind == "path":
        return [(service, rest, 1, None, "")]
    if kind == "ancestors":
        return [(service, program, 1, None, "") for program in ancestors(int(rest))]
    raise SystemExit(f"{row}: the kind must be bundle, path or ancestors")


def main(database, record, rows):
    connection = sqlite3.connect(database)
    columns = {info[1]: info for info in connection.execute("PRAGMA table_info(access)")}
    if not columns:
        raise SystemExit(f"{database} has no access table")
    print(f"{database}: access({', '.join(columns)})")
    now = int(time.time())
    written = []
    for row in rows:
        for service, client, client_type, csreq, note in clients(row):
            values = {"service": service, "client": client, "client_type": client_type, "csreq": csreq,
                      "auth_value": ALLOWED, "auth_reason": AUTH_REASON, "auth_version": AUTH_VERSION,
                      "allowed": 1, "prompt_count": 1, "policy_id": None,
                      "indirect_object_identifier_type": 0, "indirect_object_identifier": "UNUSED",
                      "indirect_object_code_identity": None, "flags": 0, "last_modified": now,
                      "pid": None, "pid_version": None, "boot_uuid": "UNUSED", "last_reminded": now}
            names = [name for name in columns if name in values]
            # A column this script does not know, that needs a value: made up
            # from its type, and said so.
            for name, (_, _, kind, notnull, default, _) in columns.items():
                if name not in values and notnull and default is None:
                    values[name] = 0 if "INT" in kind.upper() else ("UNUSED" if "TEXT" in kind.upper() else b"")
                    names.append(name)
                    print(f"  {name} ({kind}): unknown column, set to {values[name]!r}")
            connection.execute(f"INSERT OR REPLACE INTO access ({', '.join(names)}) "
                               f"VALUES ({', '.join('?' for _ in names)})", [values[name] for name in names])
            written.append((service, client, client_type))
            print(f"  {service} {'bundle' if client_type == 0 else 'path'} {client} {note}".rstrip())
    connection.commit()

    with open(record, "w") as file:
        shown = [name for name in ("service", "client", "client_type", "auth_value", "auth_reason", "csreq",
                                   "last_modified") if name in columns]
        file.write("\t".join(shown) + "\n")
        for service, client, client_type in written:
            for found in connection.execute(
                    f"SELECT {', '.join('hex(csreq)' if name == 'csreq' else name for name in shown)} "
                    "FROM access WHERE service = ? AND client = ? AND client_type = ?",
                    (service, client, client_type)):
                file.write("\t".join("" if value is None else str(value) for value in found) + "\n")
    connection.close()
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 4:
        raise SystemExit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3:]))
