#!/usr/bin/env python3
"""Fails when a folder includes or links above its floor (docs/architecture.md, "The floors").

Checks every source file's project includes and Qt module includes, and every folder's
target_link_libraries, against the table below. Run from anywhere: scripts/check-floors.py
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# folder -> floor; a folder may include and link folders of a lower floor and itself.
FLOORS = {
    "res": 0,
    # The platform's own helpers, then its libraries on top of them (none uses another).
    "platform": 1, "platform/gdi": 1.5, "platform/camsdk": 1.5, "platform/imglib": 1.5, "platform/office": 1.5,
    "measure": 2,
    "camera": 3,
    "ui": 4,
    "imaging": 5, "editors": 5, "options": 5,
    "app": 6, "app/screenshots": 6,
}
# The CMake targets each folder builds (and that others link by these names).
TARGETS = {
    "res": "res", "platform": "platform", "durable": "platform", "gdi": "platform/gdi",
    "camsdk": "platform/camsdk", "imglib": "platform/imglib", "office": "platform/office",
    "measure": "measure", "camera": "camera", "ui": "ui", "imaging": "imaging",
    "editors": "editors", "options": "options", "app": "app", "q7v_shots": "app/screenshots",
}
# Below the windows' floor, Qt Core and Gui at most; the camera library no Qt at all.
NO_WIDGETS = {f for f, n in FLOORS.items() if n <= 3}
NO_QT = {"platform/camsdk"}
WIDGET_MODULES = {"Qt6::Widgets", "Qt6::Svg", "Qt6::Test", "Qt6::Concurrent"}
QT_MODULES_OK_BELOW_UI = {"QtCore", "QtGui"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
LINK = re.compile(r"target_link_libraries\s*\(([^)]*)\)", re.S)


def folder_of(path: pathlib.Path) -> str | None:
    rel = path.relative_to(ROOT).as_posix()
    best = None
    for folder in FLOORS:
        if rel.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def qt_module_of(header: str) -> str | None:
    """QtWidgets for <QtWidgets/...> and for the widget classes included by class name."""
    if header.startswith("Qt") and "/" in header:
        return header.split("/", 1)[0]
    if re.fullmatch(r"Q[A-Z]\w*", header):
        return WIDGET_CLASS.get(header)
    return None


# Headers of the widget module that a floor below the windows must not name.
WIDGET_CLASS = {name: "QtWidgets" for name in (
    "QApplication QWidget QDialog QLabel QMessageBox QPushButton QAbstractButton QLineEdit "
    "QComboBox QCheckBox QGroupBox QSpinBox QAbstractSpinBox QTextEdit QPlainTextEdit QFileDialog "
    "QMainWindow QMenu QToolBar QStatusBar QTreeWidget QListWidget QTabWidget QTabBar QSlider "
    "QScrollArea QProgressBar QLayout QBoxLayout QHBoxLayout QVBoxLayout QGridLayout QStyle "
    "QDockWidget QSplitter QHeaderView QRadioButton QToolButton QFrame").split()}


def main() -> int:
    faults: list[str] = []
    for path in sorted(ROOT.rglob("*")):
        if path.suffix not in {".cpp", ".h"} or not path.is_file():
            continue
        rel = path.relative_to(ROOT).as_posix()
        if rel.split("/", 1)[0].startswith("build") or rel.startswith(("tests/", "bench/", "fuzz/")):
            continue
        here = folder_of(path)
        if here is None:
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            kind, header = m.groups()
            if kind == '"':
                target = folder_of(ROOT / header) if (ROOT / header).exists() else None
                if target is None or target == here:
                    continue
                if FLOORS[target] >= FLOORS[here] and not (here.startswith("app") and target.startswith("app")):
                    faults.append(f"{rel}:{number}: {here} (floor {FLOORS[here]}) includes {header} "
                                  f"of {target} (floor {FLOORS[target]})")
            else:
                module = qt_module_of(header)
                if here in NO_QT and (module or header.startswith("Q")):
                    faults.append(f"{rel}:{number}: the camera library includes Qt: <{header}>")
                elif here in NO_WIDGETS and module and module not in QT_MODULES_OK_BELOW_UI:
                    faults.append(f"{rel}:{number}: {here} (floor {FLOORS[here]}) includes <{header}> of {module}")

    for cmake in sorted(ROOT.glob("**/CMakeLists.txt")):
        rel = cmake.relative_to(ROOT).as_posix()
        if rel.split("/", 1)[0].startswith("build") or rel.startswith(("tests/", "bench/", "fuzz/")):
            continue
        here = folder_of(cmake)
        if here is None:
            continue
        text = re.sub(r"#[^\n]*", "", cmake.read_text())
        for m in LINK.finditer(text):
            words = m.group(1).split()
            if not words:
                continue
            owner = TARGETS.get(words[0], here)
            for word in words[1:]:
                if word in TARGETS:
                    target = TARGETS[word]
                    if target != owner and FLOORS[target] >= FLOORS[owner] and \
                            not (owner.startswith("app") and target.startswith("app")):
                        faults.append(f"{rel}: {words[0]} ({owner}, floor {FLOORS[owner]}) links {word} "
                                      f"({target}, floor {FLOORS[target]})")
                elif owner in NO_WIDGETS and word in WIDGET_MODULES:
                    faults.append(f"{rel}: {words[0]} ({owner}, floor {FLOORS[owner]}) links {word}")
                elif owner in NO_QT and word.startswith("Qt6::"):
                    faults.append(f"{rel}: {words[0]} (the camera library) links {word}")

    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} floor violation(s); see docs/architecture.md, 'The floors'.")
        return 1
    print("floors: every include and link stays on or below its floor")
    return 0


if __name__ == "__main__":
    sys.exit(main())
