"""COPY and MOVE onto an existing destination: mod_dav replaces the whole
destination tree, so every node of it needs commit, not only the paths the
source tree creates there. Raw requests, in a commit transaction of the
client's protocol or on public URIs with autoversioning (mod_dav_svn allows
MOVE only there)."""

import pytest

MERGE = ('<?xml version="1.0" encoding="utf-8"?><D:merge xmlns:D="DAV:"><D:source>'
         '<D:href>/svn/repo1/!svn/txn/%s</D:href></D:source><D:no-auto-merge/><D:no-checkout/>'
         '<D:prop><D:checked-in/></D:prop></D:merge>')


def start(site):
    site.zeb.start(locations=[site.zeb.location(directives=["SVNAutoversioning on"])])


def copy(site, route, method, source, destination, overwrite, user="dev"):
    """Copies or moves as user and commits what was done; the response."""
    headers = {"Depth": "infinity"}
    if overwrite is not None:
        headers["Overwrite"] = overwrite
    if route == "autoversioning":
        headers["Destination"] = site.url + destination
        return site.send(user, source, method, headers)

    created = site.send(user, "/!svn/me", "POST", {"Content-Type": "application/vnd.svn-skel"},
                        b"( create-txn )")
    assert created.status == 201, created.body
    txn = created.getheader("SVN-Txn-Name")
    headers["Destination"] = "%s/!svn/txr/%s%s" % (site.url, txn, destination)
    response = site.send(user, "/!svn/rvr/1" + source, method, headers)
    merged = site.send(user, "/trunk", "MERGE", {"Content-Type": "text/xml"},
                       (MERGE % txn).encode())
    assert merged.status == 200, merged.body
    return response


def exists(site, path):
    return site.svn("admin", "ls", site.url + path).returncode == 0


# dev may commit below /trunk except on /trunk/src/lib (view) and
# /trunk/secret (hidden); every path that these sources create is committable,
# and the parents of the moved sources are readable throughout (mod_dav_svn's
# lock discovery asks about them).
@pytest.mark.parametrize("route, method, source, destination, overwrite, protected", [
    ("transaction", "COPY", "/trunk/tools", "/trunk/src", "T", "/trunk/src/lib/util.c"),
    ("transaction", "COPY", "/trunk/tools", "/trunk/src", None, "/trunk/src/lib/util.c"),
    ("transaction", "COPY", "/branches", "/trunk", "t", "/trunk/secret/key.txt"),
    ("autoversioning", "MOVE", "/trunk/tools/ci", "/trunk/src", "T", "/trunk/src/lib/util.c"),
    ("autoversioning", "MOVE", "/trunk/tools/build.sh", "/trunk/src", None,
     "/trunk/src/lib/util.c"),
    ("autoversioning", "COPY", "/branches", "/trunk", None, "/trunk/secret/key.txt"),
])
def test_overwriting_a_tree_with_a_protected_node_is_refused(site, route, method, source,
                                                             destination, overwrite, protected):
    start(site)
    mark = site.mark()
    refused = copy(site, route, method, source, destination, overwrite)
    assert refused.status == 403, refused.body
    seen = site.messages(mark)
    assert "%s overwrites existing destination '%s'" % (method, destination) in seen
    assert "Method %s authorization FAILED" % method in seen
    assert exists(site, protected) and exists(site, source)


# What mod_dav_svn does when nothing refuses: admin is granted before any
# check. An autoversioned MOVE removes the destination in a revision of its
# own and then fails on a conflict.
@pytest.mark.parametrize("user", ["dev", "admin"])
@pytest.mark.parametrize("route, method, overwrite, status, replaced_by", [
    ("transaction", "COPY", "T", 204, ["run.sh"]),
    ("autoversioning", "COPY", None, 204, ["run.sh"]),
    ("autoversioning", "MOVE", "T", 409, None),
])
def test_overwriting_a_committable_tree_is_left_to_mod_dav_svn(site, user, route, method,
                                                               overwrite, status, replaced_by):
    start(site)
    mark = site.mark()
    done = copy(site, route, method, "/trunk/tools/ci", "/branches", overwrite, user=user)
    assert done.status == status, done.body
    listing = site.svn("admin", "ls", site.url + "/branches")
    assert (listing.stdout.split() if listing.returncode == 0 else None) == replaced_by
    assert exists(site, "/trunk/tools/ci/run.sh")
    if user == "dev":
        seen = site.messages(mark)
        assert "%s overwrites existing destination '/branches'" % method in seen
        # mod_dav_svn's lock discovery asks about the parent through the same
        # subrequest; that is no overwrite of the parent.
        assert "%s overwrites existing destination '/'" % method not in seen


@pytest.mark.parametrize("destination, overwrite, status", [
    ("/trunk/src", "F", 412),  # mod_dav keeps the destination itself
    ("/trunk/new", "T", 201),
])
def test_destination_that_is_kept_or_new_is_not_walked(site, destination, overwrite, status):
    start(site)
    mark = site.mark()
    assert copy(site, "transaction", "COPY", "/trunk/tools", destination,
                overwrite).status == status
    seen = site.messages(mark)
    assert "Ignoring COPY subrequest (matching source and destination)" in seen
    assert not any("overwrites existing destination" in m for m in seen)
    assert exists(site, "/trunk/src/lib/util.c")
