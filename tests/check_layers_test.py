#!/usr/bin/env python3
"""scripts/check_layers on small trees: each wrong-way dependency is named,
and what the layering allows passes."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

SCRIPT = pathlib.Path(__file__).resolve().parent.parent / "scripts" / "check_layers"

# (file, its text, the problem check_layers reports, or None when allowed)
INCLUDE_CASES = [
    ("disk/folder_compare.h", '#include "station/settings_block.h"\n',
     'disk/folder_compare.h:1: disk must not include "station/settings_block.h"'),
    ("bridge/block_commands.cpp", '#include <cstdint>\n#include "disk/partition_layout.h"\n',
     'bridge/block_commands.cpp:2: bridge must not include "disk/partition_layout.h"'),
    ("platform/backend_select.cpp", '#include "sim/bench.h"\n',
     'platform must not include "sim/bench.h"'),
    ("bridge/usb_tree.cpp", '#include "sim/bench.h"\n', 'bridge must not include "sim/bench.h"'),
    ("station/pass.cpp", '#include "sim/bench.h"\n', 'station must not include "sim/bench.h"'),
    ("sim/bench.cpp", '#include "bridge/cdb.h"\n', 'sim must not include "bridge/cdb.h"'),
    ("station/pass.cpp", '#include "station/windows/main_form.h"\n',
     'station must not include "station/windows/main_form.h"'),
    ("station/pass.cpp", "#include <QWidget>\n", "Qt header <QWidget> outside the windows"),
    ("qvfw/entries.cpp", '#include "sdkstation/device_sdk.h"\n',
     'qvfw must not include "sdkstation/device_sdk.h"'),
    ("sdkstation/device_sdk.cpp", '#include "qvfw/setting_table.h"\n',
     'sdkstation must not include "qvfw/setting_table.h"'),
    ("disk/format.cpp", '#include "bridge/tests/fake_backend.h"\n',
     'disk must not include "bridge/tests/fake_backend.h"'),
    ("disk/format.cpp", '#include "../bridge/cdb.h"\n', 'relative include "../bridge/cdb.h"'),
    ("tools/helper.cpp", '#include "platform/files.h"\n', "folder 'tools' is no known layer"),
    # Allowed.
    ("disk/format.cpp", '#include "disk/fat32_format.h"\n#include "bridge/cdb.h"\n', None),
    ("station/pass.cpp", '#include "disk/format_routes.h"\n#include "platform/clock.h"\n', None),
    ("station/windows/main_form.cpp", '#include <QWidget>\n#include "station/pass.h"\n', None),
    ("backend_select/bench_backend.cpp", '#include "sim/bench.h"\n', None),
    ("sim/firmware_download.cpp", '#include "resources/stand_in_images.h"\n', None),
    ("sdkstation/device_sdk.h", '#include "qvfw/qvfw_api.h"\n', None),
    ("disk/tests/format_test.cpp", '#include "sim/bench.h"\n#include "station/pass.h"\n', None),
    ("bridge/fuzz/file_fuzz.cpp", '#include "sim/bench.h"\n', None),
    ("tests/one_platform_test.cpp", '#include "sim/bench.h"\n', None),
]


def run(*args):
    return subprocess.run([sys.executable, str(SCRIPT), *args], capture_output=True, text=True)


class Includes(unittest.TestCase):
    def test_each_case(self):
        for file, text, problem in INCLUDE_CASES:
            with self.subTest(file=file, text=text), tempfile.TemporaryDirectory() as root:
                path = pathlib.Path(root, file)
                path.parent.mkdir(parents=True)
                path.write_text(text)
                result = run("--root", root)
                if problem is None:
                    self.assertEqual((result.returncode, result.stdout), (0, ""))
                else:
                    self.assertEqual(result.returncode, 1, result.stdout)
                    self.assertIn(problem, result.stdout)

    def test_build_folders_are_not_sources(self):
        with tempfile.TemporaryDirectory() as root:
            path = pathlib.Path(root, "build/default/bridge/generated.cpp")
            path.parent.mkdir(parents=True)
            path.write_text('#include "disk/partition_layout.h"\n')
            self.assertEqual(run("--root", root).returncode, 0)


class Links(unittest.TestCase):
    """Shared libraries made with the compiler, loading each other as named."""

    def build(self, folder, name, loads=(), text="int unused;\n", shared=True):
        source = folder / (name + ".c")
        source.write_text(text)
        command = ["cc", "-o", str(folder / name), str(source), "-Wl,--no-as-needed",
                   f"-L{folder.parent / 'lib'}"]
        if shared:
            command[1:1] = ["-shared", "-fPIC"]
        command += [f"-l:{library}" for library in loads]
        subprocess.run(command, check=True)

    def test_wrong_way_load_and_static_copy(self):
        with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as build:
            lib = pathlib.Path(build, "lib")
            lib.mkdir()
            sentinel = "void _ZN8platform14CurrentBackendEv(void) {}\n"
            self.build(lib, "libplatform_core.so", text=sentinel)
            self.build(lib, "libdisk.so", ["libplatform_core.so"])
            self.build(lib, "libbridge.so", ["libplatform_core.so"])
            bin = pathlib.Path(build, "bin")
            bin.mkdir()
            self.build(bin, "Program", ["libdisk.so"], "int main(void) { return 0; }\n", False)
            self.assertEqual(run("--root", root, "--build", build).stdout, "")

            self.build(lib, "libbridge.so", ["libdisk.so", "libplatform_core.so"])
            result = run("--root", root, "--build", build)
            self.assertEqual(result.returncode, 1)
            self.assertIn("lib/libbridge.so: bridge must not load libdisk.so", result.stdout)

            self.build(lib, "libbridge.so", ["libplatform_core.so"])
            self.build(bin, "Program", [], sentinel + "int main(void) { return 0; }\n", False)
            result = run("--root", root, "--build", build)
            self.assertEqual(result.returncode, 1)
            self.assertIn("bin/Program: holds a copy of platform instead of loading "
                          "libplatform_core.so", result.stdout)


if __name__ == "__main__":
    unittest.main()
