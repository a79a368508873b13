"""explain and lint on roles given on the command line."""

import json
import os
import re

import pytest

from conftest import ROOT, roles_json

TABLE = json.load(open(os.path.join(ROOT, "tests", "authz", "decision_cases.json")))


@pytest.mark.parametrize("case", TABLE["cases"], ids=lambda c: "%s-%s-%s" % tuple(c[:3]))
def test_explain_follows_the_engine_table(tool, case):
    role, action, path, granted = case[:4]
    result = tool.run("explain", "--json", "--roles", "-", action, path,
                      stdin=roles_json((role, TABLE["roles"][role])))
    assert result.returncode == (0 if granted else 1), result.stderr
    decision = json.loads(result.stdout)["decisions"][0]
    assert (decision["path"], decision["granted"]) == (path, granted)
    if len(case) > 4:
        assert decision["decided_by"] != "global access"
        assert decision["roles"][-1]["rule"] == (
            None if case[4] is None else {"pbp": case[4], "kind": decision["roles"][-1]["rule"]["kind"],
                                          "score": decision["roles"][-1]["rule"]["score"]})


DEV = ("201", ["view:/", "commit:/trunk", "view:/trunk/docs", "none:/trunk/secret",
               "none:/trunk/*/*.key"])


def test_explain_names_role_rule_wildcards_and_global_access(tool):
    decisions = tool.json("explain", "--roles", "-", "commit", "/trunk/docs/a.key", "/trunk/x",
                          stdin=roles_json(("301", ["view:/"]), DEV), status=1)["decisions"]
    refused, granted = decisions
    assert (refused["granted"], refused["decided_by"], refused["global_access"]) == (
        False, "no role", "view")
    reader, dev = refused["roles"]
    assert (reader["id"], reader["global_access"], reader["rule"]["pbp"]) == ("301", "view", "view:/")
    assert dev["absolute"] == {"pbp": "view:/trunk/docs", "depth": 2, "grants": False}
    assert dev["wildcards"] == [{"pbp": "none:/trunk/*/*.key", "score": 3, "grants": False,
                                 "match_failed": False}]
    assert dev["rule"] == {"pbp": "none:/trunk/*/*.key", "kind": "wildcard", "score": 3}
    assert (granted["granted"], granted["decided_by"], granted["role"]) == (True, "role", "201")


@pytest.mark.parametrize("roles, action, granted, decided_by, role", [
    ([("1", ["commit:/"])], "commit", True, "global access", "1"),
    ([("a", ["none:/x"]), ("b", ["view:/"])], "view", True, "global access", "b"),
    ([("a", ["view:/"]), (None, ["view:/", "commit:/branches"])], "commit", True, "role", None),
    ([], "view", False, "no role", None),
    ([], "none", False, "no role", None),
])
def test_explain_combines_roles_like_the_module(tool, roles, action, granted, decided_by, role):
    decision = tool.json("explain", "--roles", "-", action, "/branches/x",
                         stdin=roles_json(*roles))["decisions"][0]
    assert (decision["granted"], decision["decided_by"], decision["role"]) == (
        granted, decided_by, role)


def test_explain_for_people(tool):
    result = tool.run("explain", "--role", "201=" + ",".join(DEV[1]), "commit", "/trunk/docs")
    assert result.returncode == 1
    assert result.stdout.splitlines()[:4] == [
        "commit /trunk/docs: REFUSED (no role grants it)",
        "  user's global access: none",
        "  role 201 (global access none): refuses",
        "    deciding rule: view:/trunk/docs (absolute, depth 2)",
    ]


@pytest.mark.parametrize("pbps, findings", [
    (["view:/", "commit:/trunk"], []),
    (["view /trunk", "read:/x", "view:trunk", "none:/secret/**x", "view:/foo**", "view:/"],
     [("view /trunk", "no-colon"), ("read:/x", "unknown-action"), ("view:trunk", "relative-path"),
      ("none:/secret/**x", "bad-wildcard"), ("view:/foo**", "bad-wildcard")]),
    (["commit:/a", "view:/a/", "view:/a/**"],
     [("commit:/a", "merged-lower"), ("view:/a/**", "duplicate")]),
    (["view:/", "view:/trunk", "commit:/trunk/src", "commit:/trunk/src/lib"],
     [("view:/trunk", "redundant"), ("commit:/trunk/src/lib", "redundant")]),
    # A wildcard of another permission can make a deeper repeat matter.
    (["view:/", "view:/trunk", "commit:/*/x"], []),
    (["junk", "view:rel"], [("junk", "no-colon"), ("view:rel", "relative-path"),
                            ("", "no-usable-pbp")]),
])
def test_lint(tool, pbps, findings):
    result = tool.json("lint", "--roles", "-", stdin=roles_json(("7", pbps)),
                       status=1 if findings else 0)
    assert [(f["pbp"], f["code"]) for f in result["findings"]] == findings
    assert all(f["role"] == "7" for f in result["findings"])


@pytest.mark.parametrize("args, stdin, status", [
    (["explain"], None, 2),
    (["explain", "--role", "1=view:/", "read", "/x"], None, 2),
    (["explain", "--role", "1=view:/", "view", "trunk"], None, 2),
    (["explain", "--role", "no-equals", "view", "/x"], None, 2),
    (["explain", "--bogus", "view", "/x"], None, 2),
    (["frobnicate"], None, 2),
    (["explain", "--roles", "-", "view", "/x"], "{not json", 3),
    (["explain", "--roles", "-", "view", "/x"], '[{"id": 1}]', 3),
    (["lint", "--roles", "/nonexistent/roles.json"], None, 3),
    (["explain", "--all-refused", "--role", "1=view:/", "view", "/x"], None, 2),
    (["fetch", "--properties", "/nonexistent", "--repository", "r"], None, 2),
    (["fetch", "--properties", "/nonexistent", "--user", "u", "--repository", "r"], None, 3),
    (["flush", "--memcache", "host:port:x", "--properties", "/nonexistent", "--user", "u",
      "--repository", "r"], None, 2),
    (["key", "--endpoint", "e"], None, 2),
    (["key", "role-paths", "--endpoint", "e", "--user", "u"], None, 2),
    (["key", "system-id", "--endpoint", "e", "--user-key", "k"], None, 2),
    (["key", "valid-user", "--endpoint", "e", "--system-id", "s", "--repository", "r", "--user",
      "u", "--secret", "x", "--password-file", "/nonexistent"], None, 3),
])
def test_bad_input_has_its_own_status(tool, args, stdin, status):
    result = tool.run(*args, stdin=stdin)
    assert result.returncode == status, result.stderr
    assert result.stderr.startswith("zebauthz")


def test_version_is_the_projects_with_the_libraries_it_runs_with(tool):
    project = re.search(r"project\(zeb VERSION (\S+)", open(os.path.join(ROOT, "CMakeLists.txt"))
                        .read()).group(1)
    result = tool.run("--version")
    assert result.returncode == 0, result.stderr
    assert re.fullmatch(r"zebauthz %s \(libmemcached \S+, gSOAP 2\.\d+\.\d+, OpenSSL \S+\)\n"
                        % re.escape(project), result.stdout), result.stdout
