#!/usr/bin/env python3
"""Tests seed-tcc.py on any machine: a TCC database of each schema the
runners may have, and stand-ins for codesign, csreq, ps and lsof on PATH."""
import os
import sqlite3
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seed-tcc.py")

COMMON = """service TEXT NOT NULL, client TEXT NOT NULL, client_type INTEGER NOT NULL,
    auth_value INTEGER NOT NULL, auth_reason INTEGER NOT NULL, auth_version INTEGER NOT NULL,
    csreq BLOB, policy_id INTEGER, indirect_object_identifier_type INTEGER,
    indirect_object_identifier TEXT NOT NULL DEFAULT 'UNUSED', indirect_object_code_identity BLOB,
    flags INTEGER, last_modified INTEGER NOT NULL DEFAULT (CAST(strftime('%s','now') AS INTEGER))"""
KEY = "PRIMARY KEY (service, client, client_type, indirect_object_identifier)"
MACOS_13 = f"CREATE TABLE access ({COMMON}, {KEY})"
MACOS_14 = (f"CREATE TABLE access ({COMMON}, pid INTEGER, pid_version INTEGER,"
            " boot_uuid TEXT NOT NULL DEFAULT 'UNUSED',"
            " last_reminded INTEGER NOT NULL DEFAULT (CAST(strftime('%s','now') AS INTEGER)), " + KEY + ")")

REQUIREMENT = 'cdhash H"0123456789abcdef0123456789abcdef01234567"'

# codesign prints the designated requirement; csreq "compiles" it into a
# blob that is its text, so that the test sees what reached it. A process
# tree: 300 (bash) under 200 (the runner's worker) under launchd.
TOOLS = {
    "codesign": f"""#!/bin/sh
echo "Executable=$4/Contents/MacOS/x" >&2
echo 'designated => {REQUIREMENT}'
""",
    "csreq": """#!/bin/sh
cat > "$3"
""",
    "ps": """#!/bin/sh
case $4 in 300) echo 200 ;; 200) echo 1 ;; *) exit 1 ;; esac
""",
    "lsof": """#!/bin/sh
echo "p$3"; echo ftxt
case $3 in 300) echo n/bin/bash ;; 200) echo n/opt/runner/bin/Runner.Worker ;; esac
echo n/usr/lib/dyld
""",
}


class SeedTcc(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        tools = os.path.join(self.folder.name, "bin")
        os.mkdir(tools)
        for name, text in TOOLS.items():
            path = os.path.join(tools, name)
            with open(path, "w") as file:
                file.write(text)
            os.chmod(path, 0o755)
        self.environment = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"])
        self.database = os.path.join(self.folder.name, "TCC.db")
        self.record = os.path.join(self.folder.name, "rows.tsv")

    def seed(self, schema, *rows):
        if not os.path.exists(self.database):
            with sqlite3.connect(self.database) as connection:
                connection.execute(schema)
        return subprocess.run([sys.executable, SCRIPT, self.database, self.record, *rows],
                              env=self.environment, capture_output=True, text=True)

    def rows(self):
        with sqlite3.connect(self.database) as connection:
            connection.row_factory = sqlite3.Row
            return [dict(row) for row in connection.execute("SELECT * FROM access ORDER BY service, client")]

    def test_the_demo_helper_by_bundle_and_by_path_on_each_schema(self):
        for schema in (MACOS_13, MACOS_14):
            with self.subTest(schema="macOS 14" if "boot_uuid" in schema else "macOS 13"):
                if os.path.exists(self.database):
                    os.remove(self.database)
                run = self.seed(schema, "kTCCServiceAccessibility:bundle:me.ombrel.quillory.autopastehelper:/x/Q.app",
                                "kTCCServicePostEvent:path:/x/Q.app/Contents/MacOS/Quillory Helper")
                self.assertEqual(run.returncode, 0, run.stderr)
                bundle, path = self.rows()
                self.assertEqual((bundle["service"], bundle["client"], bundle["client_type"], bundle["auth_value"]),
                                 ("kTCCServiceAccessibility", "me.ombrel.quillory.autopastehelper", 0, 2))
                self.assertEqual(bundle["csreq"], REQUIREMENT.encode())
                self.assertEqual((path["service"], path["client"], path["client_type"], path["auth_value"]),
                                 ("kTCCServicePostEvent", "/x/Q.app/Contents/MacOS/Quillory Helper", 1, 2))
                self.assertIsNone(path["csreq"])
                if "boot_uuid" in path:
                    self.assertEqual(path["boot_uuid"], "UNUSED")
                with open(self.record) as file:
                    record = file.read().splitlines()
                self.assertEqual(len(record), 3, record)  # a header and the two rows, as the table holds them
                self.assertIn("me.ombrel.quillory.autopastehelper\t0\t2", record[1])

    def test_seeding_again_replaces_rows_and_fills_columns_it_does_not_know(self):
        schema = MACOS_14.replace(KEY, "future INTEGER NOT NULL, " + KEY)
        for _ in range(2):
            run = self.seed(schema, "kTCCServicePostEvent:path:/x/helper")
            self.assertEqual(run.returncode, 0, run.stderr)
        (row,) = self.rows()
        self.assertEqual(row["future"], 0)
        self.assertIn("future", run.stdout)

    def test_screen_recording_for_every_process_up_to_launchd(self):
        run = self.seed(MACOS_14, "kTCCServiceScreenCapture:ancestors:300")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual([(row["client"], row["client_type"]) for row in self.rows()],
                         [("/bin/bash", 1), ("/opt/runner/bin/Runner.Worker", 1)])


if __name__ == "__main__":
    unittest.main()
