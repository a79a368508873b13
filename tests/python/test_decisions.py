"""Answers of the binding against the permission engine's own cases, and the
methods' argument handling."""

import pytest

from zebauthorizer import ZebAuthorizer

NONE, VIEW, COMMIT = 0, 1, 2

WORKED = ["view:/", "commit:/trunk", "none:/trunk/hidden", "commit:/trunk/hidden/*.txt"]
PROJ = ["view:/", "commit:/proj/**/src", "none:/proj/*/src/hidden"]

# (PBPs of one role, path, required access, answer): the engine's own decision
# cases (its C++ unit tests assert the same), limited to the canonical absolute
# paths that the binding accepts, plus a few of the binding's own.
DECISIONS = [
    (WORKED, "/trunk/x", COMMIT, 1),
    (WORKED, "/branches", VIEW, 1),
    (WORKED, "/branches", COMMIT, 0),
    (WORKED, "/trunk/hidden", VIEW, 0),
    (WORKED, "/trunk/hidden/a", VIEW, 0),
    (WORKED, "/trunk/hidden/a.txt", VIEW, 1),
    (WORKED, "/trunk/hidden/a.txt", COMMIT, 1),
    (WORKED, "/trunk/hidden/a.txt/deeper", COMMIT, 1),
    (WORKED, "/trunkx", COMMIT, 0),
    (PROJ, "/proj/x/src/hidden/y", VIEW, 0),
    (PROJ, "/proj/x/src/a", COMMIT, 1),
    (PROJ, "/proj/x/y/src", COMMIT, 1),
    (PROJ, "/proj/x", COMMIT, 0),
    ([], "/x", COMMIT, 1),
    (["view:/a/*/b"], "/x", COMMIT, 1),
    (["view:/a/*/b"], "/a/x/b", COMMIT, 0),
    (["view:/a/*/b"], "/a/x/b/c", VIEW, 1),
    (["commit:/a", "view:/*"], "/a", COMMIT, 1),
    (["view:/a", "commit:/*"], "/a", COMMIT, 0),
    (["view:/a/*", "none:/a/*"], "/a/x", VIEW, 0),
    # "/a/**" is the absolute "/a" (depth 1); "/a/*" matches "/a/x/", so its
    # revoke (2) wins, deeper paths included.
    (["none:/a/*", "view:/a/**"], "/a/x", VIEW, 0),
    (["none:/a/*", "view:/a/**"], "/a/x/y", VIEW, 0),
    (["view:/**"], "/any/where", VIEW, 1),
    (["view:/**"], "/any/where", COMMIT, 0),
    (["view:/a/**"], "/a/b", COMMIT, 0),
    (["view:/a/**"], "/ab", COMMIT, 1),
    (["none:/", "commit:/a/b/c"], "/a/b/c/d", COMMIT, 1),
    (["none:/", "commit:/a/b/c"], "/a/b", COMMIT, 0),
    (["none:/", "none:/*"], "/x", NONE, 1),
    (["view:trunk"], "/trunk", COMMIT, 1),
    (["view:"], "/trunk", COMMIT, 1),
    (["none:/foo**", "commit:/"], "/fo", COMMIT, 1),
    (["none:/foo**", "commit:/"], "/foo/x", COMMIT, 1),
    (["none:/a"], "/ab", VIEW, 1),
    # The binding's own: merging, "/**", prefixes, separators.
    (["commit:/a", "view:/a/"], "/a/b", COMMIT, 0),
    (["commit:/a", "view:/a/"], "/a/b", VIEW, 1),
    (["view:/**"], "/", COMMIT, 0),
    (["junk"], "/x", COMMIT, 1),
    (["none:/"], "/x", VIEW, 0),
    (["VIEW:/"], "/x", VIEW, 0),
    (["view:/a:b"], "/a:b", VIEW, 1),
    (["view:/a:b"], "/a:b", COMMIT, 0),
]

# (PBPs of one role, its global access), as the engine's processing cases.
GLOBAL_ACCESS = [
    (WORKED, NONE),
    ([], COMMIT),
    (["junk", "no colon at all"], COMMIT),
    (["commit:/a", "view:/a/"], VIEW),
    (["view:/a/**", "commit:/a"], VIEW),
    (["commit://a//b/./", "view:/"], VIEW),
    (["none:/hidden", "View:/x", "x:/y"], NONE),
    (["view:trunk", "commit:"], VIEW),
    (["commit:/a/*/b", "view:/a/*/b", "commit:/x/**"], VIEW),
    (["commit:/a/**/b", "commit:/**/**", "commit:/a/\\*"], COMMIT),
    (["commit:/", "view:/foo**", "view:**"], VIEW),
    (["commit:/a", "commit:/a/b/c", "view:/b/c", "commit:/"], VIEW),
    (["view:/a/*/b"], VIEW),
]


@pytest.mark.parametrize("pbps,path,access,expected", DECISIONS)
def test_node_decision(pbps, path, access, expected):
    assert ZebAuthorizer(pbps).has_non_recursive_access(path, access) == expected
    # The same role under an id, beside a role that allows nothing, answers
    # the same: roles combine by "any allows".
    blocked = {"blocked": ["none:/"], "role": pbps}
    assert ZebAuthorizer(blocked).has_non_recursive_access(path, access) == expected


@pytest.mark.parametrize("pbps,expected", GLOBAL_ACCESS)
def test_global_access(pbps, expected):
    assert ZebAuthorizer(pbps).determine_global_access() == expected


def test_global_access_is_highest_over_roles():
    roles = {"a": ["none:/x"], "b": ["view:/y"], "c": ["commit:/z", "view:/*"]}
    assert ZebAuthorizer(roles).determine_global_access() == VIEW
    roles["d"] = []
    assert ZebAuthorizer(roles).determine_global_access() == COMMIT


def test_questions_repeat_with_the_same_answers():
    authorizer = ZebAuthorizer({"w": WORKED, "p": PROJ})
    cases = [(p, a) for pbps, p, a, _ in DECISIONS if pbps in (WORKED, PROJ)]
    first = [authorizer.has_non_recursive_access(p, a) for p, a in cases]
    for _ in range(3):
        assert [authorizer.has_non_recursive_access(p, a) for p, a in cases] == first
        assert authorizer.determine_global_access() == NONE


@pytest.mark.parametrize("args,error", [
    pytest.param((), TypeError, id="no-arguments"),
    pytest.param(("/x",), TypeError, id="one-argument"),
    pytest.param(("/x", 1, 2), TypeError, id="three-arguments"),
    pytest.param((1, 1), TypeError, id="path-not-string"),
    pytest.param((None, 1), TypeError, id="path-none"),
    pytest.param(("/x", "1"), TypeError, id="access-not-int"),
    pytest.param(("/x", 1.0), TypeError, id="access-float"),
    pytest.param(("/x", 2 ** 40), OverflowError, id="access-overflows-int"),
    pytest.param(("/x", 3), ValueError, id="access-above-commit"),
    pytest.param(("/x", -1), ValueError, id="access-unknown"),
    pytest.param(("x", 0), ValueError, id="relative-path"),
    pytest.param(("", 1), ValueError, id="empty-path"),
    pytest.param(("/a/../b", 1), ValueError, id="backpath"),
    pytest.param(("/a/./b", 1), ValueError, id="dot-component"),
    pytest.param(("//a", 1), ValueError, id="double-slash"),
    pytest.param(("/a/", 1), ValueError, id="trailing-slash"),
    pytest.param(("/a\x00b", 1), ValueError, id="nul"),
])
def test_has_non_recursive_access_argument_errors(args, error):
    authorizer = ZebAuthorizer(["commit:/"])
    with pytest.raises(error):
        authorizer.has_non_recursive_access(*args)


def test_has_non_recursive_access_is_positional_only():
    with pytest.raises(TypeError):
        ZebAuthorizer([]).has_non_recursive_access(path="/x", required_access=1)


def test_determine_global_access_takes_no_arguments():
    with pytest.raises(TypeError):
        ZebAuthorizer([]).determine_global_access(1)
