"""The authorization driver seen through raw HTTP: its messages, refused
methods, COPY and MOVE destinations, and subrequests."""

import pytest

from authz_site import password

AUTHORIZING = "Preparing to authorize via check_access()"


def driver_messages(site, mark, last):
    """The driver's messages of one request: from the hook entry up to and
    including the message `last`."""
    seen = site.messages(mark)
    start = seen.index(AUTHORIZING)
    return seen[start:seen.index(last, start) + 1]


def test_worked_example(site):
    site.start()
    site.request("reader", "/")  # leaves the role paths in memcached

    client = site.zeb.client()
    mark = site.mark()
    found = client.request("/svn/repo1/trunk", "reader", password("reader"), method="PROPFIND",
                           headers={"Depth": "0"})
    assert found.status == 207
    assert driver_messages(site, mark, "Method PROPFIND authorization SUCCEEDED") == [
        AUTHORIZING,
        "Fetched getRolePaths()/getRolePathsList() API response from memcached",
        "Determining authorization actions for PROPFIND method on '/trunk'",
        "Scheduling check for 'view' on '/trunk'",
        "Action 'view' authorized based on global access = 1",
        "Action view authorization SUCCEEDED",
        "Method PROPFIND authorization SUCCEEDED",
    ]

    mark = site.mark()
    refused = client.request("/svn/repo1/trunk/a", "reader", password("reader"), method="PUT")
    assert refused.status == 403
    assert refused.getheader("WWW-Authenticate", "").startswith("Basic")
    assert driver_messages(site, mark, "Authorization FAILED with errorcode 403") == [
        AUTHORIZING,
        "Determining authorization actions for PUT method on '/trunk/a'",
        "Scheduling check for 'commit' on '/trunk/a'",
        "Checking action 'commit' path '/trunk/a'",
        "Checking against role '301'",
        "[PBP] +sorted absolute PBPs:",
        "[PBP] |-view:/",
        "Action commit authorization FAILED",
        "Method PUT authorization FAILED",
        "Refused user 'reader': commit (PUT) in repository 'repo1', path '/trunk/a'",
        "Authorization FAILED with errorcode 403",
    ]
    # One line tells the refusal at the usual levels.
    assert [(level, m) for level, m in site.zeb.httpd.messages_since(mark) if level != "debug"] \
        == [("warn", "Refused user 'reader': commit (PUT) in repository 'repo1', path '/trunk/a'")]


@pytest.mark.parametrize("method", ["PATCH", "CHECKIN", "LABEL", "FROBNICATE"])
def test_refused_methods_need_global_commit(site, method):
    site.start()
    mark = site.mark()
    refused = site.request("reader", "/trunk/README", method=method)
    assert refused.status == 401
    assert refused.getheader("WWW-Authenticate", "").startswith("Basic")
    assert ("error", "Unrecognized method %s" % method) in site.zeb.httpd.messages_since(mark)

    mark = site.mark()
    assert site.request("admin", "/trunk/README", method=method).status != 401
    seen = site.messages(mark)
    assert "Global commit access granted" in seen
    assert "Unrecognized method %s" % method not in seen


def test_user_without_roles_is_refused_everything(site):
    site.start()
    for method in ("OPTIONS", "GET", "PROPFIND"):
        assert site.request("norole", "/", method=method).status == 403


# Through the authn provider a refusal can only ask for credentials again.
@pytest.mark.parametrize("basic_auth, status", [(True, 401), (False, 403)])
def test_listing_of_repositories_is_refused_without_asking_the_server(site, basic_auth, status):
    """Credentials are valid only for a repository, and the parent path
    names none."""
    site.zeb.start(locations=[site.zeb.location(directives=["SVNListParentPath On"])],
                   load_auth_basic=basic_auth)
    for path in ("/svn/", "/svn"):
        mark = site.mark()
        assert site.zeb.client().request(path, "admin", "adminpw").status == status
        assert site.messages(mark) == [
            "Refusing '%s': the listing of repositories is not offered" % path]
    assert site.calls("isValidUser") == 0
    assert site.request("admin", "/trunk/README").status == 200


@pytest.mark.parametrize("source, destination, status, message", [
    ("/trunk/README", None, 400, "COPY request is missing Destination header"),
    ("/!svn/vcc/default", "/svn/repo1/branches/x", 400,
     "COPY destination has no associated repository path"),
    ("/trunk/README", "http://127.0.0.1", 403,
     "COPY destination 'http://127.0.0.1' maps to no repository path"),
    ("/trunk/README", "/svn/repo1/!svn/vcc/default", 403,
     "COPY destination '/svn/repo1/!svn/vcc/default' maps to no repository path"),
    ("/trunk/README", "http://h/elsewhere/README", 500,
     "COPY destination '/elsewhere/README' lies outside '/svn'"),
    ("/trunk/README", "http://h/svnx/repo1/README", 500,
     "COPY destination '/svnx/repo1/README' lies outside '/svn'"),
    # The NUL would cut the path short of where httpd resolves it (/tags/x).
    ("/trunk/README", "/svn/repo1/branches/ok%00/../../tags/x", 400,
     "Error parsing Destination header (/svn/repo1/branches/ok%00/../../tags/x)"),
])
def test_copy_destination_that_cannot_be_judged_is_refused(site, source, destination, status,
                                                           message):
    site.start()
    headers = {} if destination is None else {"Destination": destination}
    mark = site.mark()
    assert site.request("dev", source, method="COPY", headers=headers).status == status
    seen = site.messages(mark)
    assert message in seen
    assert not any(m.startswith("Checking action") for m in seen)


@pytest.mark.parametrize("destination", ["/branches/../tags/x", "/branches/%2e%2e/tags/x"])
def test_destination_is_judged_where_it_leads(site, destination):
    site.start()
    mark = site.mark()
    refused = site.request("dev", "/trunk/README", method="COPY",
                           headers={"Destination": site.url + destination})
    assert refused.status == 403
    seen = site.messages(mark)
    assert "Scheduling check for 'commit' on '/tags/x' (recursive)" in seen
    assert "Method COPY authorization SUCCEEDED" not in seen


def test_global_commit_is_granted_before_destination_is_read(site):
    site.start()
    mark = site.mark()
    site.request("admin", "/trunk/README", method="COPY")
    seen = site.messages(mark)
    assert "Global commit access granted" in seen
    assert "COPY request is missing Destination header" not in seen


def test_move_decides_destination_first_and_stops_at_its_failure(site):
    site.start()
    mark = site.mark()
    refused = site.request("dev", "/trunk/README", method="MOVE",
                           headers={"Destination": "/svn/repo1/tags/README"})
    assert refused.status == 403
    seen = site.messages(mark)
    scheduled = [m for m in seen if m.startswith("Scheduling check")]
    assert scheduled == ["Scheduling check for 'commit' on '/tags/README' (recursive)",
                         "Scheduling check for 'view' on '/trunk/README' (recursive)",
                         "Scheduling check for 'commit' on '/trunk/README' (recursive)"]
    checked = [m for m in seen if m.startswith("Checking action")]
    assert checked == ["Checking action 'commit' (recursive) on '/tags/README'"]


def test_copy_subrequest_to_its_own_destination_is_not_rechecked(site):
    site.start()
    mark = site.mark()
    # mod_dav looks the destination up with a subrequest of the same method.
    site.request("dev", "/trunk/README", method="COPY",
                 headers={"Destination": site.url + "/branches/README"})
    seen = site.messages(mark)
    ignored = seen.index("Ignoring COPY subrequest (matching source and destination)")
    assert seen[ignored - 1:ignored + 2] == [
        "Determining authorization actions for COPY method on '/branches/README'",
        "Ignoring COPY subrequest (matching source and destination)",
        "Method COPY authorization SUCCEEDED"]


def test_get_subrequest_needs_what_its_parent_needs(site):
    """With path authorization by subrequest, mod_dav_svn asks with GET
    subrequests: a reading parent needs view, any other parent commit."""
    site.zeb.start(locations=[site.zeb.location(directives=["SVNPathAuthz On"])])
    mark = site.mark()
    listing = site.request("dev", "/trunk", method="PROPFIND", headers={"Depth": "1"})
    assert listing.status == 207
    assert b"/svn/repo1/trunk/src/" in listing.body
    assert b"/svn/repo1/trunk/secret" not in listing.body
    assert "SUBREQUEST: method(GET) parent method(PROPFIND) path(/trunk/secret)" in \
        site.messages(mark)

    # mover may copy into branches, but the copy's GET subrequest on the
    # source asks for commit there.
    mark = site.mark()
    copied = site.svn("mover", "cp", "-m", "copy", site.url + "/trunk/README",
                      site.url + "/branches/README")
    assert copied.returncode != 0
    seen = site.messages(mark)
    assert "SUBREQUEST: method(GET) parent method(COPY) path(/trunk/README)" in seen
    assert "Checking action 'commit' path '/trunk/README'" in seen


@pytest.mark.parametrize("path, status", [
    # mod_dav_svn's lock discovery asks about /trunk/src and its children,
    # which dev may read but not all commit to.
    ("/trunk/src/main.c", 204),
    ("/trunk/src", 403),
    ("/trunk/docs/guide.txt", 403),
])
def test_autoversioned_delete_asks_the_bypass_about_reads_only(site, path, status):
    site.zeb.start(locations=[site.zeb.location(directives=["SVNAutoversioning on"])])
    mark = site.mark()
    assert site.request("dev", path, method="DELETE").status == status
    seen = site.messages(mark)
    assert "Checking action 'commit' (recursive) on '%s'" % path in seen
    # The bypass questions are views of single nodes.
    assert not any(m.startswith("Checking action 'commit' (recursive) on '%s/" % path)
                   or m.startswith("Checking action 'commit' (recursive) on '/trunk'")
                   for m in seen)
