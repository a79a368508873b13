"""The module's surface and every way of building (and rebuilding) a
ZebAuthorizer object."""

import gc
import inspect
import warnings

import pytest

import zebauthorizer
from zebauthorizer import ZebAuthorizer

NOT_PBPS = "Not a sequence of PBPs or a dictionary mapping roles to PBPs"
PY_TPFLAGS_BASETYPE = 1 << 10
PY_TPFLAGS_HAVE_GC = 1 << 14


def answers(authorizer):
    """Global access plus a few node decisions: enough to tell roles apart."""
    nodes = [("/", 1), ("/trunk/x", 2), ("/branches", 2), ("/branches", 1), ("/x", 0)]
    return (authorizer.determine_global_access(),
            [authorizer.has_non_recursive_access(p, a) for p, a in nodes])


NO_ROLES = (0, [0, 0, 0, 0, 0])
OPEN_ROLE = (2, [1, 1, 1, 1, 1])
VIEW_ROOT_COMMIT_TRUNK = (1, [1, 1, 0, 1, 1])


def test_module_surface():
    own = sorted(name for name in vars(zebauthorizer) if not name.startswith("__"))
    assert own == ["COMMIT", "NONE", "VIEW", "ZebAuthorizer"]
    assert (zebauthorizer.NONE, zebauthorizer.VIEW, zebauthorizer.COMMIT) == (0, 1, 2)
    assert ZebAuthorizer.__module__ == "zebauthorizer"
    assert ZebAuthorizer.__name__ == "ZebAuthorizer"


@pytest.mark.parametrize("subject,signature", [
    (ZebAuthorizer, "(pbps=None)"),
    (ZebAuthorizer.determine_global_access, "(self, /)"),
    (ZebAuthorizer.has_non_recursive_access, "(self, path, required_access, /)"),
])
def test_help_shows_signatures_and_results(subject, signature):
    assert str(inspect.signature(subject)) == signature
    assert "Return" in subject.__doc__ or "pbps" in subject.__doc__


def test_type_is_final_and_outside_gc():
    assert not ZebAuthorizer.__flags__ & PY_TPFLAGS_BASETYPE
    assert not ZebAuthorizer.__flags__ & PY_TPFLAGS_HAVE_GC
    assert not gc.is_tracked(ZebAuthorizer(["view:/"]))
    with pytest.raises(TypeError):
        type("Sub", (ZebAuthorizer,), {})


@pytest.mark.parametrize("args,kwargs,expected", [
    pytest.param((), {}, NO_ROLES, id="no-argument"),
    pytest.param((None,), {}, NO_ROLES, id="none"),
    pytest.param(({},), {}, NO_ROLES, id="empty-dict"),
    pytest.param(({"r": None},), {}, NO_ROLES, id="dict-only-none-value"),
    # A role with nothing usable grants nothing, as in the httpd module.
    pytest.param(([],), {}, NO_ROLES, id="empty-list-grants-nothing"),
    pytest.param(({"r": []},), {}, NO_ROLES, id="dict-empty-list"),
    pytest.param((["view /", "none:x", "view:/**x"],), {}, NO_ROLES, id="only-unusable"),
    pytest.param(({"r": ["junk"], "s": ["view:/", "commit:/trunk"]},), {},
                 VIEW_ROOT_COMMIT_TRUNK, id="unusable-role-beside-another"),
    pytest.param((["view:/", "commit:/trunk"],), {}, VIEW_ROOT_COMMIT_TRUNK, id="list"),
    pytest.param((), {"pbps": ["view:/", "commit:/trunk"]}, VIEW_ROOT_COMMIT_TRUNK, id="keyword"),
    pytest.param(([b"view:/", b"commit:/trunk"],), {}, VIEW_ROOT_COMMIT_TRUNK, id="bytes"),
    pytest.param(({None: ["view:/", "commit:/trunk"]},), {}, VIEW_ROOT_COMMIT_TRUNK,
                 id="dict-role-without-id"),
    pytest.param(({b"r1": ["view:/", "commit:/trunk"], 7: None},), {},
                 VIEW_ROOT_COMMIT_TRUNK, id="dict-bytes-key-and-left-out-item"),
    pytest.param(({"a": ["view:/"], "b": ["commit:/"]},), {}, OPEN_ROLE, id="two-roles"),
    pytest.param(({"b": ["commit:/"], "a": ["view:/"]},), {}, OPEN_ROLE, id="two-roles-reversed"),
    pytest.param(({"a": ["none:/"], "b": ["view:/", "commit:/trunk"]},), {},
                 VIEW_ROOT_COMMIT_TRUNK, id="any-role-grants"),
])
@pytest.mark.filterwarnings("ignore::UserWarning")
def test_construction_forms(args, kwargs, expected):
    assert answers(ZebAuthorizer(*args, **kwargs)) == expected


@pytest.mark.parametrize("args,kwargs,error,message", [
    pytest.param((("view:/",),), {}, TypeError, NOT_PBPS, id="tuple"),
    pytest.param((1,), {}, TypeError, NOT_PBPS, id="integer"),
    pytest.param(([1],), {}, TypeError, "pbps[0]: not a string", id="list-holding-int"),
    pytest.param((["view:/", None],), {}, TypeError, "pbps[1]: not a string",
                 id="list-holding-none"),
    pytest.param(({"r": ["view:/", 3]},), {}, TypeError, "pbps['r'][1]: not a string",
                 id="dict-list-holding-int"),
    pytest.param(({"r": "view:/"},), {}, TypeError, "pbps['r']: not a list", id="dict-value-string"),
    pytest.param(({1: ["view:/"]},), {}, TypeError, "pbps key 1: not a string", id="dict-key-int"),
    # The id is refused before the strings are screened.
    pytest.param(({1: []},), {}, TypeError, "pbps key 1: not a string",
                 id="dict-key-int-empty-list"),
    pytest.param(({1: ["junk"]},), {}, TypeError, "pbps key 1: not a string",
                 id="dict-key-int-unusable"),
    pytest.param((["view:/\x00x"],), {}, ValueError, "embedded null character", id="nul-in-pbp"),
    pytest.param((["view:/\udc80"],), {}, UnicodeEncodeError, None, id="no-utf8-form"),
    pytest.param((None, None), {}, TypeError, None, id="two-arguments"),
    pytest.param((), {"roles": None}, TypeError, None, id="unknown-keyword"),
])
def test_construction_errors(args, kwargs, error, message):
    with pytest.raises(error) as raised:
        ZebAuthorizer(*args, **kwargs)
    if message is not None:
        assert str(raised.value) == message


@pytest.mark.parametrize("pbps,expected", [
    pytest.param(["view:/", "commit:/trunk"], [], id="all-usable"),
    pytest.param(["view /", "view:/"],
                 ["Role '(unknown)' holds an unusable PBP 'view /' (no action before a ':')"],
                 id="list-role-without-id"),
    pytest.param({"r": ["view:/", "read:/x", "view:x"]},
                 ["Role 'r' holds an unusable PBP 'read:/x' (unknown action)",
                  "Role 'r' holds an unusable PBP 'view:x' (relative path)"], id="dict-role"),
    pytest.param({b"s": ["view:/**x"]},
                 ["Role 's' holds an unusable PBP 'view:/**x' (pattern cannot be translated)"],
                 id="role-left-out"),
])
def test_unusable_pbps_are_named_in_warnings(pbps, expected):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        ZebAuthorizer(pbps)
    assert [(w.category, str(w.message)) for w in caught] == [(UserWarning, m) for m in expected]


def test_warning_made_an_error_refuses_the_roles():
    authorizer = ZebAuthorizer(["commit:/"])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning, match="'junk'"):
            authorizer.__init__({"r": ["commit:/", "junk"]})
    assert answers(authorizer) == NO_ROLES


def test_strings_are_copied():
    pbps = ["view:/", "commit:/trunk"]
    roles = {"r": pbps}
    authorizer = ZebAuthorizer(roles)
    pbps.append("none:/trunk")
    roles["s"] = ["none:/"]
    assert answers(authorizer) == VIEW_ROOT_COMMIT_TRUNK


def test_str_is_taken_as_utf8():
    authorizer = ZebAuthorizer(["view:/", "commit:/d\u00e9p\u00f4t"])
    assert authorizer.has_non_recursive_access("/d\u00e9p\u00f4t/x", 2) == 1
    assert authorizer.has_non_recursive_access("/d\u00e9p\u00f4t/x".encode(), 2) == 1
    assert authorizer.has_non_recursive_access("/depot/x", 2) == 0


def test_init_again_rebuilds():
    authorizer = ZebAuthorizer(["view:/", "commit:/trunk"])
    assert answers(authorizer) == VIEW_ROOT_COMMIT_TRUNK
    authorizer.__init__()
    assert answers(authorizer) == NO_ROLES
    authorizer.__init__(pbps={"a": ["commit:/"]})
    assert answers(authorizer) == OPEN_ROLE
    authorizer.__init__(["view:/", "commit:/trunk"])
    assert answers(authorizer) == VIEW_ROOT_COMMIT_TRUNK


@pytest.mark.parametrize("args,kwargs", [
    pytest.param(({"a": ["commit:/"], "b": "view:/"},), {}, id="late-bad-value"),
    pytest.param(({"a": ["commit:/"], 7: ["view:/"]},), {}, id="late-bad-key"),
    pytest.param((("commit:/",),), {}, id="tuple"),
    pytest.param((["commit:/"], None), {}, id="two-arguments"),
    pytest.param((), {"roles": ["commit:/"]}, id="unknown-keyword"),
])
def test_failed_init_leaves_no_roles(args, kwargs):
    authorizer = ZebAuthorizer(["commit:/"])
    assert answers(authorizer) == OPEN_ROLE
    with pytest.raises(TypeError):
        authorizer.__init__(*args, **kwargs)
    assert answers(authorizer) == NO_ROLES
    authorizer.__init__(["view:/", "commit:/trunk"])
    assert answers(authorizer) == VIEW_ROOT_COMMIT_TRUNK


def test_object_made_by_new_alone():
    authorizer = ZebAuthorizer.__new__(ZebAuthorizer)
    assert answers(authorizer) == NO_ROLES
    with pytest.raises(ValueError):
        authorizer.has_non_recursive_access("relative", 1)
    del authorizer
    gc.collect()
    authorizer = ZebAuthorizer.__new__(ZebAuthorizer)
    authorizer.__init__(["commit:/"])
    assert answers(authorizer) == OPEN_ROLE
