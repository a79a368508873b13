"""REPORTs whose request URI is readable but whose body names hidden paths.
mod_dav_svn answers most of them with what its questions to the module let
through; the module judges the paths of the others itself. Each row's
markers are in admin's answer and in no attacker's, in every Location."""

import pytest

from attack_site import (HEAD, LOCATIONS, PUBLIC_MERGE, SECRET, SECRET_LOCK, SECRET_LOG,
                         SECRET_MERGE, SECRET_PROP, revealed)

BOTH = ("dev", "reader")


def update(src, extra="", entries='<S:entry rev="%d" depth="infinity" start-empty="true"/>' % HEAD):
    return ('<S:update-report xmlns:S="svn:" send-all="true"><S:src-path>{url}%s</S:src-path>'
            '<S:target-revision>%d</S:target-revision><S:depth>infinity</S:depth>%s%s'
            '</S:update-report>') % (src, HEAD, extra, entries)


def report(name, *elements):
    return '<S:%s xmlns:S="svn:">%s</S:%s>' % (name, "".join(
        "<S:%s>%s</S:%s>" % (tag, text, tag) if text is not None else "<S:%s/>" % tag
        for tag, text in elements), name)


def log(path):
    return report("log-report", ("start-revision", HEAD), ("end-revision", 0),
                  ("discover-changed-paths", None), ("path", path))


def file_revs(path):
    return report("file-revs-report", ("start-revision", 0), ("end-revision", HEAD),
                  ("path", path))


def locations(path):
    return report("get-locations", ("path", path), ("peg-revision", HEAD),
                  ("location-revision", 2))


def segments(path):
    return report("get-location-segments", ("path", path), ("peg-revision", HEAD),
                  ("start-revision", HEAD), ("end-revision", 0))


def mergeinfo(path, *extra):
    return report("mergeinfo-report", ("revision", HEAD), ("inherit", "explicit"), *extra,
                  ("path", path))


def replay(revision):
    return report("replay-report", ("revision", revision), ("low-water-mark", 0),
                  ("send-deltas", 1))


def listing(path):
    return report("list-report", ("path", path), ("revision", HEAD), ("depth", "infinity"))


# The update report's absent-directory entry names an unreadable child of a
# readable directory by design of the protocol; what lies below it stays
# hidden.
ROWS = [
    ("update", "/!svn/vcc/default", update("/trunk"), [b"key.txt", SECRET + b" key"]),
    ("update target", "/!svn/vcc/default",
     update("/trunk", "<S:update-target>secret</S:update-target>"),
     [b"key.txt", SECRET + b" key"]),
    ("update hidden source", "/!svn/vcc/default", update("/trunk/secret"), [b"key.txt"]),
    ("switch to hidden", "/!svn/vcc/default",
     update("/trunk/docs", "<S:dst-path>{url}/trunk/secret</S:dst-path>"), [b"key.txt"]),
    ("update source through dots", "/!svn/vcc/default", update("/trunk/docs/../secret"),
     [b"key.txt"]),
    ("switch through encoded dots", "/!svn/vcc/default",
     update("/trunk/docs", "<S:dst-path>{url}/trunk/docs/%2e%2e/secret</S:dst-path>"),
     [b"key.txt"]),
    ("switch through double slash", "/!svn/vcc/default",
     update("/trunk/docs", "<S:dst-path>{url}/trunk//secret</S:dst-path>"), [b"key.txt"]),
    ("update from old entries", "/!svn/vcc/default", update(
        "/trunk", "", '<S:entry rev="1" depth="infinity"/><S:entry rev="1">secret</S:entry>'),
     [b"key.txt"]),
    ("log changed paths", "/trunk", log(""), [b"secret/key.txt", SECRET_LOG.encode()]),
    ("log of hidden", "/trunk", log("secret"), [b"secret/key.txt", SECRET_LOG.encode()]),
    ("log through bc", "/!svn/bc/5/trunk", log("secret"), [b"secret/key.txt"]),
    ("log of copy", "/trunk/src", log("copy.txt"), [b"/trunk/secret", SECRET_LOG.encode()]),
    # mod_dav_svn's own handling aborts the serving process here.
    ("file-revs of hidden", "/trunk", file_revs("secret/key.txt"), [b"/trunk/secret/key.txt"]),
    # mod_dav_svn takes the leading slash for nothing: /trunk/secret/key.txt.
    ("file-revs of hidden, slashed", "/trunk", file_revs("/secret/key.txt"),
     [b"/trunk/secret/key.txt"]),
    ("file-revs of copy", "/trunk/src", file_revs("copy.txt"),
     [b"/trunk/secret", SECRET + b" key\n"]),
    ("locations of copy", "/trunk/src", locations("copy.txt"), [b"/trunk/secret/key.txt"]),
    ("locations of hidden", "/trunk", locations("secret/key.txt"), [b"<S:location "]),
    ("segments of copy", "/trunk/src", segments("copy.txt"), [b"secret/key.txt"]),
    ("segments of hidden", "/trunk", segments("secret/key.txt"), [b"<S:location-segment"]),
    ("mergeinfo of hidden", "/trunk", mergeinfo("secret"), [SECRET_MERGE.encode()]),
    ("mergeinfo of descendants", "/trunk",
     mergeinfo("", ("include-descendants", "yes")), [SECRET_MERGE.encode()]),
    ("mergeinfo of descendants, spaced", "/",
     mergeinfo("trunk", ("include-descendants", " yes ")), [SECRET_MERGE.encode()]),
    ("replay", "/", replay(2), [b"key.txt"]),
    ("replay below", "/trunk", replay(1), [b"key.txt"]),
    ("deleted revision of hidden", "/trunk",
     report("get-deleted-rev-report", ("path", "secret/gone.txt"), ("peg-revision", 1),
            ("end-revision", HEAD)), [b"<D:version-name>3<"]),
    ("deleted revision of hidden, slashed", "/trunk",
     report("get-deleted-rev-report", ("path", "/secret/gone.txt"), ("peg-revision", 1),
            ("end-revision", HEAD)), [b"<D:version-name>3<"]),
    ("inherited props of hidden", "/trunk",
     report("inherited-props-report", ("revision", HEAD), ("path", "secret/key.txt")),
     [SECRET_PROP.encode()]),
    ("locks", "/trunk", '<S:get-locks-report xmlns:S="svn:" depth="infinity"/>',
     [SECRET_LOCK.encode(), b"secret/key.txt"]),
    ("list", "/trunk", listing(""), [b"key.txt"]),
    ("list of hidden", "/trunk", listing("secret"), [b"key.txt"]),
]


@pytest.mark.parametrize("name, path, body, markers", ROWS, ids=[row[0] for row in ROWS])
def test_report_does_not_reveal_hidden_paths(target, name, path, body, markers):
    headers = {"Content-Type": "text/xml"}
    failures = []
    mark = target.mark()
    for location in LOCATIONS:
        uri = "/%s/repo1%s" % (location, path)
        text = body.replace("{url}", target.url(location))
        granted = target.send("admin", "REPORT", uri, headers, text)
        if granted.status != 200 or not all(m in revealed(granted.body) for m in markers):
            failures.append(("admin", location, granted))
        for user in BOTH if location != "svnb" else ("dev",):
            refused = target.send(user, "REPORT", uri, headers, text)
            # mod_dav_svn's refusals come as 4xx or 500.
            if any(m in revealed(refused.body) for m in markers):
                failures.append((user, location, refused))
    assert not failures, failures
    assert not target.children_crashed(mark)


def test_mergeinfo_of_descendants_keeps_what_is_readable(target):
    """mod_dav_svn does not ask about descendants; their hidden items are
    dropped from its answer, which refuses nothing."""
    body = mergeinfo("", ("include-descendants", "yes"))
    for user in BOTH:
        answer = target.send(user, "REPORT", "/svn/repo1/trunk", {"Content-Type": "text/xml"},
                             body)
        assert answer.status == 200 and answer.header("WWW-Authenticate") is None
        assert PUBLIC_MERGE.encode() in answer.body and SECRET_MERGE.encode() not in answer.body
        assert answer.body.rstrip().endswith(b"</S:mergeinfo-report>")
    # The client's own catalogue of a target's mergeinfo goes the same way.
    result = target.svn("dev", "mergeinfo", "--show-revs", "merged", "-R",
                        target.url() + "/branches", target.url() + "/trunk")
    assert result.returncode == 0, result.stderr


# mod_dav_svn aborts the serving process on these, whoever sends them; no
# client writes such paths.
FATAL = [
    ("inherited props, absolute path", "/trunk",
     report("inherited-props-report", ("revision", HEAD), ("path", "/trunk/src/main.c"))),
    ("update entry with dot segments", "/!svn/vcc/default", update(
        "/trunk", "", '<S:entry rev="%d" start-empty="true"/><S:entry rev="1">docs/../secret'
        '</S:entry>' % HEAD)),
    ("update missing outside", "/!svn/vcc/default", update(
        "/trunk", "", '<S:entry rev="%d" start-empty="true"/><S:missing>../x</S:missing>' % HEAD)),
    ("update target with dots", "/!svn/vcc/default",
     update("/trunk", "<S:update-target>./docs</S:update-target>")),
]


@pytest.mark.parametrize("name, path, body", FATAL, ids=[row[0] for row in FATAL])
def test_report_that_would_end_the_process_is_refused(target, name, path, body):
    mark = target.mark()
    for user in ("admin", "dev"):
        refused = target.send(user, "REPORT", "/svn/repo1" + path, {"Content-Type": "text/xml"},
                              body.replace("{url}", target.url()))
        assert refused.status == 400, (user, refused)
    assert "not a plain relative path" in " ".join(target.messages(mark))
    assert not target.children_crashed(mark)


def test_propfind_on_a_transaction_is_refused(target):
    created = target.send("admin", "POST", "/svn/repo1/!svn/me",
                          {"Content-Type": "application/vnd.svn-skel"}, b"( create-txn )")
    txn = created.header("SVN-Txn-Name")
    mark = target.mark()
    try:
        for user in ("admin", "dev"):
            for uri in ("/svn/repo1/!svn/txn/" + txn, "/svn/repo1/!svn/vtxn/" + txn):
                assert target.send(user, "PROPFIND", uri, {"Depth": "0"}).status == 403
        assert target.send("admin", "PROPFIND", "/svn/repo1/!svn/txr/%s/trunk" % txn,
                           {"Depth": "0"}).status == 207
    finally:
        target.send("admin", "DELETE", "/svn/repo1/!svn/txn/" + txn)
    assert not target.children_crashed(mark)
