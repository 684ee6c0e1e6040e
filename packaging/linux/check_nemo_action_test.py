#!/usr/bin/env python3
"""The Nemo action check accepts a sound action and names the fault of each
broken one (run by ctest as file_manager_entries_checker)."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_nemo_action  # noqa: E402

ENTRY = check_nemo_action.command_shape("quillane /tempexec /inline /in %f", {"%f"})
GOOD = """[Nemo Action]
Name=Open without images
Exec=quillane /tempexec /inline /in %F
Quote=double
Selection=s
Mimetypes=application/pdf;
"""


class CheckActionTest(unittest.TestCase):
    def test_sound_action_passes(self):
        self.assertEqual(check_nemo_action.check_action(GOOD, ENTRY), [])
        self.assertEqual(
            check_nemo_action.check_action(
                GOOD.replace("Mimetypes=application/pdf;", "Extensions=pdf;"), ENTRY), [])

    def test_faults_are_named(self):
        cases = [
            ("wrong group", GOOD.replace("[Nemo Action]", "[Desktop Entry]"), "no [Nemo Action]"),
            ("no Name", GOOD.replace("Name=Open without images\n", ""), "Name missing"),
            ("no Selection", GOOD.replace("Selection=s\n", ""), "Selection missing"),
            ("bad Selection", GOOD.replace("Selection=s", "Selection=single"), "Selection=single"),
            ("no file types", GOOD.replace("Mimetypes=application/pdf;\n", ""),
             "neither Mimetypes"),
            ("list without ;", GOOD.replace("application/pdf;", "application/pdf"), "not a list"),
            ("other type", GOOD.replace("application/pdf;", "text/plain;"), "application/pdf"),
            ("bad Quote", GOOD.replace("Quote=double", "Quote=yes"), "Quote=yes"),
            ("display name", GOOD.replace("%F", "%f"), "exactly one"),
            ("option missing", GOOD.replace(" /inline", ""), "desktop entry"),
            ("option added", GOOD.replace("/in %F", "/overwrite /in %F"), "desktop entry"),
            ("other program", GOOD.replace("Exec=quillane", "Exec=evince"), "desktop entry"),
            ("unbalanced quote", GOOD.replace("/in %F", "/in \"%F"), "does not parse"),
            ("key twice", GOOD + "Selection=m\n", "appears twice"),
            ("not a key line", GOOD + "Selection\n", "not a key=value"),
        ]
        for name, text, expected in cases:
            with self.subTest(name):
                problems = check_nemo_action.check_action(text, ENTRY)
                self.assertTrue(any(expected in p for p in problems), f"{problems} for\n{text}")


if __name__ == "__main__":
    unittest.main()
