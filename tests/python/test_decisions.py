"""The binding answers as the engine does, and checks what it is asked."""

import pytest

from zebauthorizer import ZebAuthorizer

# Rows holding unusable strings warn; the warnings have tests of their own.
pytestmark = pytest.mark.filterwarnings("ignore::UserWarning")

NONE, VIEW, COMMIT = 0, 1, 2

WORKED = ["view:/", "commit:/trunk", "none:/trunk/hidden", "commit:/trunk/hidden/*.txt"]
PROJ = ["view:/", "commit:/proj/**/src", "none:/proj/*/src/hidden"]

# (PBPs of one role, path, required access, answer): cases that the engine's
# own unit tests assert as well.
DECISIONS = [
    (WORKED, "/trunk/x", COMMIT, 1),
    (WORKED, "/branches", VIEW, 1),
    (WORKED, "/branches", COMMIT, 0),
    (WORKED, "/trunk/hidden/a", VIEW, 0),
    (WORKED, "/trunk/hidden/a.txt", COMMIT, 1),
    (WORKED, "/trunkx", COMMIT, 0),
    (PROJ, "/proj/x/src/hidden/y", VIEW, 0),
    (PROJ, "/proj/x/src/a", COMMIT, 1),
    ([], "/x", COMMIT, 0),
    (["view:/a/*/b"], "/x", COMMIT, 1),
    (["view:/a/*/b"], "/a/x/b", COMMIT, 0),
    (["view:/a/*/b"], "/a/x/b/c", VIEW, 1),
    (["commit:/a", "view:/*"], "/a", COMMIT, 1),
    (["view:/a", "commit:/*"], "/a", COMMIT, 0),
    # "/a/**" is the absolute "/a" (depth 1); "/a/*" matches "/a/x/", so its
    # revoke (2) wins, deeper paths included.
    (["none:/a/*", "view:/a/**"], "/a/x/y", VIEW, 0),
    (["view:/**"], "/", COMMIT, 0),
    (["commit:/a", "view:/a/"], "/a/b", COMMIT, 0),
    (["none:/", "none:/*"], "/x", NONE, 1),
    (["view:trunk", "view:/x"], "/trunk", COMMIT, 1),
    (["none:/foo**", "commit:/"], "/fo", COMMIT, 1),
    (["view:/a:b"], "/a:b", COMMIT, 0),
]

# (PBPs of one role, its global access)
GLOBAL_ACCESS = [
    (WORKED, NONE),
    ([], NONE),
    (["junk", "no colon at all"], NONE),
    (["commit:/", "junk"], NONE),
    (["commit:/a", "view:/a/"], VIEW),
    (["none:/hidden", "View:/x", "x:/y"], NONE),
    (["view:trunk", "commit:", "commit:/"], VIEW),
    (["commit:/", "view:/foo**", "view:**"], VIEW),
    (["view:/a/*/b"], VIEW),
]


@pytest.mark.parametrize("pbps,path,access,expected", DECISIONS)
def test_node_decision(pbps, path, access, expected):
    assert ZebAuthorizer(pbps).has_non_recursive_access(path, access) == expected
    # Beside a role that allows nothing the answer stays: any role may allow.
    blocked = {"blocked": ["none:/"], "role": pbps}
    assert ZebAuthorizer(blocked).has_non_recursive_access(path, access) == expected


@pytest.mark.parametrize("pbps,expected", GLOBAL_ACCESS)
def test_global_access(pbps, expected):
    assert ZebAuthorizer(pbps).determine_global_access() == expected


def test_global_access_is_highest_over_roles():
    roles = {"a": ["none:/x"], "b": ["view:/y"], "c": ["commit:/z", "view:/*"]}
    assert ZebAuthorizer(roles).determine_global_access() == VIEW
    roles["d"] = []
    assert ZebAuthorizer(roles).determine_global_access() == VIEW
    roles["e"] = ["commit:/"]
    assert ZebAuthorizer(roles).determine_global_access() == COMMIT


@pytest.mark.parametrize("args,error", [
    pytest.param(("/x",), TypeError, id="one-argument"),
    pytest.param(("/x", 1, 2), TypeError, id="three-arguments"),
    pytest.param((None, 1), TypeError, id="path-none"),
    pytest.param(("/x", "1"), TypeError, id="access-not-int"),
    pytest.param(("/x", 3), ValueError, id="access-above-commit"),
    pytest.param(("/x", -1), ValueError, id="access-unknown"),
    pytest.param(("x", 0), ValueError, id="relative-path"),
    pytest.param(("/a/../b", 1), ValueError, id="backpath"),
    pytest.param(("/..", 1), ValueError, id="above-root"),
    pytest.param(("", 1), ValueError, id="empty-path"),
    pytest.param(("/a\x00b", 1), ValueError, id="nul"),
])
def test_has_non_recursive_access_argument_errors(args, error):
    # The role allows everything: any answer but an exception would be a grant.
    with pytest.raises(error):
        ZebAuthorizer(["commit:/"]).has_non_recursive_access(*args)


# Spellings the server would hand over in canonical form are judged as that
# form, not by the rules of a neighbouring path (the root's, for "//trunk/x").
@pytest.mark.parametrize("spelling,canonical", [
    pytest.param("//trunk/x", "/trunk/x", id="leading-double-slash"),
    pytest.param("/./trunk/x", "/trunk/x", id="dot-after-root"),
    pytest.param("/trunk//hidden/a", "/trunk/hidden/a", id="inner-double-slash"),
    pytest.param(b"/trunk/hidden/./a.txt", "/trunk/hidden/a.txt", id="dot-bytes"),
    pytest.param("/trunk/hidden/", "/trunk/hidden", id="trailing-slash"),
])
def test_path_spellings_judged_as_canonical(spelling, canonical):
    authorizer = ZebAuthorizer(WORKED)
    for access in (VIEW, COMMIT):
        assert (authorizer.has_non_recursive_access(spelling, access)
                == authorizer.has_non_recursive_access(canonical, access))


def test_methods_take_positional_arguments_only():
    with pytest.raises(TypeError):
        ZebAuthorizer([]).has_non_recursive_access(path="/x", required_access=1)
    with pytest.raises(TypeError):
        ZebAuthorizer([]).determine_global_access(1)
