#!/usr/bin/env python3
"""Plants one include per layering rule in a copy of the sources and expects the check to name it.

Each plant is an include line added to the first source of a folder; the check must fail and report
the file that breaks the rule (for an include reached through another header: the file that
includes that header).
"""

import argparse
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

FOLDERS = ("TavrikCore", "TavrikUSBProtocol", "TavrikPlatform", "TavrikLink", "TavrikUSBFlasher")

# (name, folder to plant in, include line, folder whose file must be reported, words of the rule)
PLANTS = [
    ("core includes Qt", "TavrikCore/Model", "#include <QString>", "TavrikCore/Model", "no Qt"),
    ("core includes Qt by module", "TavrikCore/Model", "#include <QtCore/QList>", "TavrikCore/Model", "no Qt"),
    ("core includes the application", "TavrikCore/Model", '#include "TavrikLink/Support/KeyValueStore.hpp"',
     "TavrikCore/Model", "no other module"),
    ("core includes the platform by a relative path", "TavrikCore/Model",
     '#include "../../TavrikPlatform/Bluetooth/QtBleCentral.hpp"', "TavrikCore/Model", "no other module"),
    ("USB protocol includes Qt", "TavrikUSBProtocol/Support", "#include <QByteArray>", "TavrikUSBProtocol/Support", "no Qt"),
    ("USB protocol includes the core", "TavrikUSBProtocol/Support", '#include "TavrikCore/Support/Clock.hpp"',
     "TavrikUSBProtocol/Support", "no other module"),
    ("platform includes the application", "TavrikPlatform/Bluetooth",
     '#include "TavrikLink/Controller/CommandPath.hpp"', "TavrikPlatform/Bluetooth", "nothing of the application"),
    ("platform includes a widget", "TavrikPlatform/Bluetooth", "#include <QWidget>", "TavrikPlatform/Bluetooth",
     "no widgets"),
    ("controller includes a presenter", "TavrikLink/Controller",
     '#include "TavrikLink/Views/ContentViewPresenter.hpp"', "TavrikLink/Controller", "nothing of Views/"),
    ("USB service includes a widget header of ours", "TavrikLink/Usb", '#include "TavrikLink/Ui/ContentView.hpp"',
     "TavrikLink/Usb", "nothing of Views/"),
    ("support includes the entry", "TavrikLink/Support", '#include "TavrikLink/App/main.cpp"',
     "TavrikLink/Support", "nothing of Views/"),
    ("firmware service includes Qt Widgets", "TavrikLink/Firmware", "#include <QPushButton>", "TavrikLink/Firmware",
     "no widgets"),
    ("link includes the controller", "TavrikLink/Link", '#include "TavrikLink/Controller/CommandPath.hpp"',
     "TavrikLink/Link", "Link/ includes nothing of Controller/"),
    ("link includes the controller by a relative path", "TavrikLink/Link", '#include "../Controller/CommandPath.hpp"',
     "TavrikLink/Link", "Link/ includes nothing of Controller/"),
    ("presenter includes a widget of ours", "TavrikLink/Views", '#include "TavrikLink/Ui/ContentView.hpp"',
     "TavrikLink/Views", "no widgets"),
    ("presenter includes Qt Widgets", "TavrikLink/Views", "#include <QLabel>", "TavrikLink/Views", "no widgets"),
    ("presenter includes the entry", "TavrikLink/Views", '#include "TavrikLink/App/main.cpp"', "TavrikLink/Views",
     "nothing of App/"),
    ("widget includes the controller", "TavrikLink/Ui", '#include "TavrikLink/Controller/CommandPath.hpp"',
     "TavrikLink/Ui", "nothing of Controller/"),
    ("widget reaches the controller through a presenter header", "TavrikLink/Views/ContentViewPresenter.hpp",
     '#include "TavrikLink/Controller/CommandPath.hpp"', "TavrikLink/Ui", "nothing of Controller/"),
    ("widget includes the entry", "TavrikLink/Ui", '#include "TavrikLink/App/main.cpp"', "TavrikLink/Ui",
     "nothing of App/"),
    ("USB helper includes Qt", "TavrikUSBFlasher", "#include <QString>", "TavrikUSBFlasher", "no Qt"),
    ("USB helper includes the core", "TavrikUSBFlasher", '#include "TavrikCore/Support/Clock.hpp"',
     "TavrikUSBFlasher", "nothing of the application"),
]


def plant_target(root, where):
    path = root / where
    if path.is_file():
        return path
    return sorted(p for p in path.iterdir() if p.suffix in (".cpp", ".hpp"))[0]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--script", required=True, type=Path)
    parser.add_argument("--root", required=True, type=Path)
    arguments = parser.parse_args()

    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        copy = Path(scratch)
        for folder in FOLDERS:
            shutil.copytree(arguments.root / folder, copy / folder)
        for name, where, line, reported, rule in PLANTS:
            target = plant_target(copy, where)
            original = target.read_text()
            target.write_text(original + "\n" + line + "\n")
            try:
                result = subprocess.run([sys.executable, str(arguments.script), "--root", str(copy)],
                                        capture_output=True, text=True, check=False)
            finally:
                target.write_text(original)
            spelled = line.split(None, 1)[1].strip('<>"')
            caught = [l for l in result.stderr.splitlines()
                      if l.startswith(reported + "/") and rule in l and (spelled in l or reported != where)]
            if result.returncode != 1 or not caught:
                failures.append(f"{name}: not caught (exit {result.returncode})\n{result.stderr}")
    for failure in failures:
        print(failure)
    print(f"{len(PLANTS) - len(failures)} of {len(PLANTS)} planted includes caught")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
