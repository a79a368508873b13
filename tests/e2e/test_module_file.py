"""Properties of the built module file that loading it alone would not show:
what it exports into httpd, how its own calls bind, where it looks for
libraries."""

import pathlib
import platform
import re
import subprocess

import pytest

from harness.httpd import module_path

ENGINE_OPERATIONS = [
    "ensure_processed_pbps", "populate_rolepaths_pbps", "has_non_recursive_access",
    "determine_global_access", "zeb_matcher_match", "translate_pbp", "do_match",
    "component_count", "zeb_regexer__match",
]
VERSION_SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "module" / "mod_authnz_zeb.map"


def version_script_names():
    """The global names of the version script, C++ ones by their mangled form."""
    text = re.sub(r"/\*.*?\*/", "", VERSION_SCRIPT.read_text(), flags=re.S)
    listed = text.split("global:", 1)[1].split("local:", 1)[0]
    plain = re.sub(r'extern "C\+\+" \{.*?\};', "", listed, flags=re.S)
    names = set(re.findall(r"[A-Za-z_]\w*", plain))
    for function in re.findall(r'"(\w+)\(soap\*\)"', listed):
        names.add(f"_Z{len(function)}{function}P4soap")
    return names


def elf(*options):
    return subprocess.run(["readelf", "--wide", *options, module_path()], check=True,
                          capture_output=True, text=True).stdout


def test_exports_what_its_version_script_lists_and_nothing_else():
    out = subprocess.run(["nm", "-D", "--defined-only", module_path()], check=True,
                         capture_output=True, text=True).stdout
    exported = {line.split()[-1] for line in out.splitlines()}
    assert {"authnz_zeb_module", *ENGINE_OPERATIONS} <= exported
    assert exported == version_script_names()


@pytest.mark.skipif(platform.machine() != "x86_64", reason="reads x86-64 relocation types")
def test_engine_calls_bind_to_its_own_copy():
    relocated = {line.split()[4] for line in elf("--relocs").splitlines()
                 if "R_X86_64_JUMP_SLOT" in line or "R_X86_64_GLOB_DAT" in line}
    assert relocated.isdisjoint(ENGINE_OPERATIONS)


def test_looks_for_libraries_beside_the_installation_only():
    # An empty entry would make the loader search httpd's working directory.
    (line,) = [l for l in elf("--dynamic").splitlines() if "(RPATH)" in l or "(RUNPATH)" in l]
    assert line.split("[", 1)[1].rstrip("]") == "$ORIGIN/../../lib"
