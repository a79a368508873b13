"""Answers of the binding against the permission engine's own cases, and the
methods' argument handling."""

import pytest

from zebauthorizer import ZebAuthorizer

NONE, VIEW, COMMIT = 0, 1, 2

WORKED = ["view:/", "commit:/trunk", "none:/trunk/hidden", "commit:/trunk/hidden/*.txt"]
PROJ = ["view:/", "commit:/proj/**/src", "none:/proj/*/src/hidden"]

# (PBPs of one role, path, required access, answer); the same cases are
# asserted against the engine directly in its C++ unit tests.
DECISIONS = [
    (WORKED, "/trunk/x", COMMIT, 1),
    (WORKED, "/branches", VIEW, 1),
    (WORKED, "/branches", COMMIT, 0),
    (WORKED, "/trunk/hidden/a", VIEW, 0),
    (WORKED, "/trunk/hidden/a.txt", VIEW, 1),
    (WORKED, "/trunk/hidden/a.txt", COMMIT, 1),
    (PROJ, "/proj/x/src/hidden/y", VIEW, 0),
    (PROJ, "/proj/x/src/a", COMMIT, 1),
    ([], "/anything", COMMIT, 1),
    (["view:/a/*/b"], "/x", COMMIT, 1),
    (["view:/a/*/b"], "/a/x/b", COMMIT, 0),
    (["view:/a/*/b"], "/a/x/b/c", VIEW, 1),
    (["commit:/a", "view:/*"], "/a", COMMIT, 1),
    (["view:/a", "commit:/*"], "/a", COMMIT, 0),
    (["commit:/a", "view:/a/"], "/a/b", COMMIT, 0),
    (["commit:/a", "view:/a/"], "/a/b", VIEW, 1),
    (["view:/**"], "/deep/down", VIEW, 1),
    (["view:/**"], "/deep/down", COMMIT, 0),
    (["view:/**"], "/", COMMIT, 0),
    (["view:/a/**"], "/a", COMMIT, 0),
    (["view:/a/**"], "/b", COMMIT, 1),
    (["junk"], "/x", COMMIT, 1),
    (["view:trunk"], "/trunk", COMMIT, 1),
    (["none:/"], "/x", NONE, 1),
    (["none:/"], "/x", VIEW, 0),
    (["none:/", "commit:/a/b"], "/a", VIEW, 0),
    (["none:/", "commit:/a/b"], "/a/b/c", COMMIT, 1),
    (["none:/", "commit:/a/b"], "/a/bc", VIEW, 0),
    (["VIEW:/"], "/x", VIEW, 0),
    (["view:/a:b"], "/a:b", VIEW, 1),
    (["view:/a:b"], "/a:b", COMMIT, 0),
]

# (PBPs of one role, its global access)
GLOBAL_ACCESS = [
    (WORKED, NONE),
    ([], COMMIT),
    (["commit:/"], COMMIT),
    (["view:/a/*/b"], VIEW),
    (["commit:/a", "view:/a/"], VIEW),
    (["junk"], COMMIT),
    (["junk", "view:trunk"], VIEW),
    (["none:/hidden", "commit:/"], NONE),
    (["commit:/a", "other:/b"], NONE),
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
