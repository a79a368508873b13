"""explain --recursive walks a real repository as the module walks it."""

import json
import os
import subprocess

import pytest

from conftest import ROOT, roles_json

DEV = ("201", ["view:/", "commit:/trunk", "view:/trunk/docs"])


@pytest.fixture(scope="module")
def repos(tmp_path_factory):
    root = tmp_path_factory.mktemp("recursive")
    source = root / "import"
    for path in ("trunk/src/main.c", "trunk/docs/guide.txt", "branches/.keep"):
        (source / path).parent.mkdir(parents=True, exist_ok=True)
        (source / path).write_text("x\n")
    repos = root / "repos"
    subprocess.run(["svnadmin", "create", str(repos)], check=True)
    subprocess.run(["svn", "import", "-q", "--config-dir", str(root / "cfg"), "-m", "tree",
                    str(source), "file://%s" % repos], check=True, capture_output=True)
    return str(repos)


@pytest.mark.parametrize("path, granted, first_refused, reason", [
    ("/trunk/src", True, None, None),
    ("/trunk", False, "/trunk/docs", None),
    # As the module: a missing top is decided on its own permissions.
    ("/trunk/missing", True, None, None),
])
def test_recursive_reports_the_first_refused_node(tool, repos, path, granted, first_refused,
                                                   reason):
    decision = tool.json("explain", "--recursive", "--repos", repos, "--roles", "-", "commit",
                         path, stdin=roles_json(DEV), status=0 if granted else 1)["decisions"][0]
    assert decision["granted"] is granted
    assert decision.get("first_refused") == (
        None if granted else {"path": first_refused, "reason": reason})
    if first_refused == "/trunk/docs":
        assert decision["roles"][0]["rule"]["pbp"] == "view:/trunk/docs"


def test_recursive_needs_a_readable_repository(tool, tmp_path):
    result = tool.run("explain", "--recursive", "--repos", str(tmp_path / "none"), "--role",
                      "1=view:/", "commit", "/")
    assert result.returncode == 6, result.stderr


@pytest.mark.parametrize("roles, action, path, refused", [
    ([("301", ["view:/", "none:/trunk/docs", "none:/branches/*"])], "view", "/",
     ["/branches/.keep", "/trunk/docs"]),
    # What lies in a refused directory goes with it; only its top is named.
    ([DEV], "commit", "/trunk", ["/trunk/docs"]),
    ([("302", ["none:/", "view:/trunk/src"])], "view", "/trunk", ["/trunk"]),
    ([("1", ["commit:/"])], "commit", "/", []),
])
def test_all_refused_lists_what_the_user_cannot_reach(tool, repos, roles, action, path, refused):
    decision = tool.json("explain", "--recursive", "--all-refused", "--repos", repos, "--roles",
                         "-", action, path, stdin=roles_json(*roles),
                         status=1 if refused else 0)["decisions"][0]
    assert decision["granted"] is not refused
    assert [node["path"] for node in decision["refused"]] == refused
    assert all(node["granted"] is False for node in decision["refused"])


CORE_TABLE = json.load(open(os.path.join(ROOT, "tests", "decision", "decision_table.json")))


@pytest.fixture(scope="module")
def table_repos(tmp_path_factory):
    root = tmp_path_factory.mktemp("table")
    for path in CORE_TABLE["tree"]:
        (root / "import" / path).parent.mkdir(parents=True, exist_ok=True)
        (root / "import" / path).write_text("x\n")
    subprocess.run(["svnadmin", "create", str(root / "repos")], check=True)
    subprocess.run(["svn", "import", "-q", "--config-dir", str(root / "cfg"), "-m", "tree",
                    str(root / "import"), "file://%s" % (root / "repos")], check=True,
                   capture_output=True)
    return str(root / "repos")


@pytest.mark.parametrize("row", CORE_TABLE["questions"], ids=lambda r: "-".join(map(str, r[:4])))
def test_explain_agrees_with_the_decision_core(tool, table_repos, row):
    roles, action, path, recursive, granted = row
    tree = ["--recursive", "--repos", table_repos] if recursive else []
    pbps = [(str(i), role) for i, role in enumerate(CORE_TABLE["roles"][roles], 1)]
    result = tool.run("explain", *tree, "--roles", "-", action, path, stdin=roles_json(*pbps))
    assert result.returncode == (0 if granted else 1), (result.stdout, result.stderr)
