"""Properties of the built extension file that importing alone would not
show: its name, what it exports, how its own calls bind, where it looks for
libraries."""

import ast
import inspect
import os
import platform
import subprocess
import sysconfig

import pytest

import zebauthorizer

ENGINE_OPERATIONS = [
    "ensure_processed_pbps", "populate_rolepaths_pbps", "has_non_recursive_access",
    "determine_global_access", "zeb_matcher_match", "translate_pbp", "do_match",
    "component_count", "zeb_regexer__match",
]


def elf(*options):
    return subprocess.run(["readelf", "--wide", *options, zebauthorizer.__file__],
                          check=True, capture_output=True, text=True).stdout


def test_file_name_carries_the_interpreter_suffix():
    assert zebauthorizer.__file__.endswith("zebauthorizer" + sysconfig.get_config_var("EXT_SUFFIX"))


def test_exports_init_and_every_engine_operation():
    out = subprocess.run(["nm", "-D", "--defined-only", zebauthorizer.__file__],
                         check=True, capture_output=True, text=True).stdout
    exported = {line.split()[-1] for line in out.splitlines() if line.split()[1:2] == ["T"]}
    assert {"PyInit_zebauthorizer", *ENGINE_OPERATIONS} <= exported


@pytest.mark.skipif(platform.machine() != "x86_64", reason="reads x86-64 relocation types")
@pytest.mark.parametrize("name", ENGINE_OPERATIONS)
def test_engine_calls_bind_to_its_own_copy(name):
    # A call through the PLT could be taken over by another library
    # exporting the same name; bound locally there is no relocation for it.
    relocated = {line.split()[4] for line in elf("--relocs").splitlines()
                 if "R_X86_64_JUMP_SLOT" in line or "R_X86_64_GLOB_DAT" in line}
    assert name not in relocated


def test_libraries_beside_the_installation_come_first():
    dynamic = elf("--dynamic")
    rpath = [line for line in dynamic.splitlines() if "(RPATH)" in line or "(RUNPATH)" in line]
    assert len(rpath) == 1
    assert "(RPATH)" in rpath[0]
    assert rpath[0].split("[", 1)[1].startswith("$ORIGIN/../../lib")


def test_type_stub_matches_the_module():
    stub_file = os.path.join(os.path.dirname(__file__), "..", "..", "python", "zebauthorizer.pyi")
    with open(stub_file) as f:
        stub = ast.parse(f.read())
    constants = {n.target.id for n in stub.body if isinstance(n, ast.AnnAssign)}
    assert constants == {"NONE", "VIEW", "COMMIT"}
    (cls,) = [n for n in stub.body if isinstance(n, ast.ClassDef)]
    for method in cls.body:
        if method.name == "__init__":
            continue
        stub_params = [a.arg for a in method.args.posonlyargs + method.args.args]
        built = inspect.signature(getattr(zebauthorizer.ZebAuthorizer, method.name))
        assert stub_params == list(built.parameters), method.name
    assert sorted(m.name for m in cls.body) == ["__init__", "determine_global_access",
                                                 "has_non_recursive_access"]
