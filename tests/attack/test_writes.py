"""Writes outside the attackers' rights: into commit transactions of the
client's v2 protocol, through v1 activities and working resources, by
autoversioning, locks, and COPY and MOVE with every form of Destination.
dev may commit below /trunk except /trunk/docs (view), /trunk/secret and
*.key files (hidden); reader commits nowhere. Each attacker is refused and
leaves nothing behind; admin then gets mod_dav_svn's own answer."""

import uuid

import pytest

from attack_site import SECRET

BOTH = ("dev", "reader")
SKEL = {"Content-Type": "application/vnd.svn-skel"}
PROPPATCH = ('<?xml version="1.0"?><D:propertyupdate xmlns:D="DAV:" xmlns:C="'
             'http://subversion.tigris.org/xmlns/custom/"><D:set><D:prop><C:planted>x</C:planted>'
             '</D:prop></D:set></D:propertyupdate>')


def transaction(target, user, virtual):
    """A new transaction of user's: its name, or the name user gave it."""
    headers = dict(SKEL, **({"SVN-VTxn-Name": "v-" + str(uuid.uuid4())} if virtual else {}))
    created = target.send(user, "POST", "/svn/repo1/!svn/me", headers, b"( create-txn )")
    assert created.status == 201, created
    return created.header("SVN-VTxn-Name" if virtual else "SVN-Txn-Name")


# method, path inside the transaction root, extra headers, admin's status.
TRANSACTION_ROWS = [
    ("PUT", "/trunk/secret/inner/deep.txt", {}, 204),
    ("PUT", "/trunk/docs/guide.txt", {}, 204),
    ("PUT", "/trunk/src/id.key", {}, 204),
    ("PUT", "/tags/new.txt", {}, 201),
    ("PUT", "/trunk/src/../docs/guide.txt", {}, 204),
    ("PUT", "/trunk/%64ocs/guide.txt", {}, 204),
    ("PUT", "/trunk//docs/guide.txt", {}, 204),
    ("DELETE", "/trunk/secret/inner", {}, 204),
    ("DELETE", "/trunk/docs", {}, 204),
    ("DELETE", "/trunk/src", {}, 204),  # holds id.key
    ("MKCOL", "/tags/newdir", {}, 201),
    ("PROPPATCH", "/trunk/docs", {}, 207),
    ("COPY", "/trunk/src/stolen", {"source": "/!svn/rvr/5/trunk/secret"}, 201),
    ("COPY", "/tags/copied", {"source": "/!svn/rvr/5/trunk/README"}, 201),
]


@pytest.mark.parametrize("virtual", [False, True], ids=["txr", "vtxr"])
@pytest.mark.parametrize("method, path, extra, admin_status", TRANSACTION_ROWS,
                         ids=["%s %s" % (row[0], row[1]) for row in TRANSACTION_ROWS])
def test_write_into_a_transaction_is_refused(target, method, path, extra, admin_status, virtual):
    """Into the attacker's own transaction and into admin's, by the name
    the server gave it or the one its client chose."""
    root, txn_resource = ("vtxr", "vtxn") if virtual else ("txr", "txn")
    body = {"PUT": SECRET + b" planted\n", "PROPPATCH": PROPPATCH}.get(method)
    source = extra.get("source")

    def attempt(user, txn, raw=False):
        uri = "/svn/repo1/!svn/%s/%s%s" % (root, txn, path)
        if source is None:
            return target.send(user, method, uri, {}, body, raw=raw)
        return target.send(user, method, "/svn/repo1" + source,
                           {"Destination": target.url() + uri[len("/svn/repo1"):],
                            "Depth": "infinity"})

    admin_txn = transaction(target, "admin", virtual)
    try:
        for user in BOTH:
            own_txn = transaction(target, user, virtual) if user == "dev" else admin_txn
            for txn in {own_txn, admin_txn}:
                # A recursive check needs the transaction's root, which
                # mod_dav_svn opens only for the user who made it.
                expected = (403, 500) if txn == admin_txn and method == "DELETE" else (403,)
                assert attempt(user, txn, raw="//" in path).status in expected, (user, txn)
        assert attempt("admin", admin_txn, raw="//" in path).status == admin_status
    finally:
        target.send("admin", "DELETE", "/svn/repo1/!svn/%s/%s" % (txn_resource, admin_txn))


def test_write_through_v1_activity_is_refused(target):
    activity = "/svn1/repo1/!svn/act/" + str(uuid.uuid4())
    checkout = ('<?xml version="1.0"?><D:checkout xmlns:D="DAV:"><D:activity-set><D:href>%s'
                '</D:href></D:activity-set></D:checkout>' % activity)
    assert target.send("admin", "MKACTIVITY", activity).status == 201
    try:
        for path in ("/!svn/ver/1/trunk/secret/inner/deep.txt", "/!svn/ver/1/trunk/docs/guide.txt"):
            for user in BOTH:
                assert target.send(user, "CHECKOUT", "/svn1/repo1" + path, {},
                                   checkout).status == 403, (user, path)
            granted = target.send("admin", "CHECKOUT", "/svn1/repo1" + path, {}, checkout)
            assert granted.status == 201
            working = granted.header("Location").split("127.0.0.1:%d" % target.port)[-1]
            # Into admin's working resource.
            for user in BOTH:
                assert target.send(user, "PUT", working, {}, b"planted").status == 403
                assert target.send(user, "PROPPATCH", working, {}, PROPPATCH).status == 403
            assert target.send("admin", "PUT", working, {}, SECRET + b" v1\n").status == 204
    finally:
        target.send("admin", "DELETE", activity)


# Autoversioned writes on public URIs (/svnav): method, path, admin's status.
AUTOVERSIONING_ROWS = [
    ("PUT", "/trunk/docs/guide.txt", 204),
    ("PUT", "/trunk/secret/new.txt", 201),
    ("PUT", "/trunk/src/new.key", 201),
    ("PROPPATCH", "/trunk/docs/guide.txt", 207),
    ("MKCOL", "/tags/autoversioned", 201),
    ("DELETE", "/trunk/secret/inner", 204),
]


@pytest.mark.parametrize("method, path, admin_status", AUTOVERSIONING_ROWS,
                         ids=["%s %s" % (row[0], row[1]) for row in AUTOVERSIONING_ROWS])
def test_autoversioned_write_is_refused(target, method, path, admin_status):
    uri = "/svnav/repo1" + path
    body = {"PUT": SECRET + b" autoversioned\n", "PROPPATCH": PROPPATCH}.get(method)
    for user in BOTH:
        assert target.send(user, method, uri, {}, body).status == 403, user
    assert target.send("admin", method, uri, {}, body).status == admin_status


def test_lock_and_unlock_need_commit(target):
    lock = ('<?xml version="1.0"?><D:lockinfo xmlns:D="DAV:"><D:lockscope><D:exclusive/>'
            '</D:lockscope><D:locktype><D:write/></D:locktype></D:lockinfo>')
    uri = "/svn/repo1/trunk/docs/guide.txt"
    for user in BOTH:
        assert target.send(user, "LOCK", uri, {}, lock).status == 403, user
    locked = target.send("admin", "LOCK", uri, {}, lock)
    assert locked.status == 200
    token = locked.header("Lock-Token")
    for path in ("/trunk/docs/guide.txt", "/trunk/secret/key.txt"):
        for user in BOTH:
            assert target.send(user, "UNLOCK", "/svn/repo1" + path, {"Lock-Token": token}
                               ).status == 403, (user, path)
    assert target.send("admin", "UNLOCK", uri, {"Lock-Token": token}).status == 204


# name, method, source, Destination ({base}: http://127.0.0.1:PORT), the
# attackers' status, admin's status (mod_dav's own answer where it is not
# 201). Every destination leads to /tags, where no attacker may commit,
# unless the row says otherwise.
DESTINATION_ROWS = [
    ("absolute", "COPY", "/trunk/README", "{base}/svnav/repo1/tags/{n}", 403, 201),
    ("path only", "COPY", "/trunk/README", "/svnav/repo1/tags/{n}", 403, 400),
    ("relative", "COPY", "/trunk/README", "tags/{n}", 500, 400),
    ("relative upwards", "COPY", "/trunk/README", "../tags/{n}", 500, 400),
    ("other host", "COPY", "/trunk/README", "http://other.example/svnav/repo1/tags/{n}", 403, 201),
    ("other Location", "COPY", "/trunk/README", "{base}/svn/repo1/tags/{n}", 500, 201),
    ("other repository", "COPY", "/trunk/README", "{base}/svnav/repo2/tags/{n}", 403, 500),
    ("encoded", "COPY", "/trunk/README", "{base}/svnav/repo1/%74ags/{n}", 403, 201),
    ("dot segments", "COPY", "/trunk/README", "{base}/svnav/repo1/trunk/./../tags/{n}", 403, 201),
    ("double slashes", "COPY", "/trunk/README", "{base}/svnav/repo1//tags//{n}", 403, 201),
    ("query", "COPY", "/trunk/README", "{base}/svnav/repo1/tags/{n}?to=/trunk/x", 403, 400),
    ("query hiding dots", "COPY", "/trunk/README", "{base}/svnav/repo1/trunk/{n}?/../../tags/{n}",
     (400, 403), 400),
    ("fragment", "COPY", "/trunk/README", "{base}/svnav/repo1/tags/{n}#frag", 403, 400),
    ("fragment hiding dots", "COPY", "/trunk/README",
     "{base}/svnav/repo1/trunk/{n}#/../../tags/{n}", (400, 403), 400),
    ("into hidden", "COPY", "/trunk/README", "{base}/svnav/repo1/trunk/secret/{n}", 403, 201),
    ("from hidden", "COPY", "/trunk/secret", "{base}/svnav/repo1/trunk/src/{n}", 403, 201),
    ("from hidden by dots", "COPY", "/trunk/docs/../secret/key.txt",
     "{base}/svnav/repo1/trunk/src/{n}", 403, 201),
    ("move absolute", "MOVE", "/trunk/scratch/{n}.txt", "{base}/svnav/repo1/tags/{n}", 403, 201),
    ("move encoded", "MOVE", "/trunk/scratch/{n}.txt", "{base}/svnav/repo1/%74ags/{n}", 403, 201),
    ("move dot segments", "MOVE", "/trunk/scratch/{n}.txt", "{base}/svnav/repo1/trunk/../tags/{n}",
     403, 201),
    ("move other host", "MOVE", "/trunk/scratch/{n}.txt", "http://other.example/svnav/repo1/tags/{n}",
     403, 201),
    ("move other repository", "MOVE", "/trunk/scratch/{n}.txt", "{base}/svnav/repo2/tags/{n}", 403,
     501),
    ("move into view only", "MOVE", "/trunk/scratch/{n}.txt", "{base}/svnav/repo1/trunk/docs/{n}",
     403, 201),
    ("move from view only", "MOVE", "/trunk/docs/guide.txt", "{base}/svnav/repo1/trunk/src/{n}",
     403, 201),
]


@pytest.mark.parametrize("name, method, source, destination, refused, admin_status",
                         DESTINATION_ROWS, ids=[row[0] for row in DESTINATION_ROWS])
def test_copy_and_move_outside_rights_are_refused(target, name, method, source, destination,
                                                  refused, admin_status):
    # One source per move (m1..m12), so that admin's move leaves the others.
    n = "m%d" % (1 + [row[0] for row in DESTINATION_ROWS if row[1] == "MOVE"].index(name)) \
        if method == "MOVE" else "c-" + name.replace(" ", "-")
    headers = {"Destination": destination.format(base="http://127.0.0.1:%d" % target.port, n=n),
               "Depth": "infinity"}
    uri = "/svnav/repo1" + source.format(n=n)
    # mod_dav refuses such a destination for dev, who may commit to where it
    # leads, and the module refuses reader.
    refused = refused if isinstance(refused, tuple) else (refused,)
    for user in BOTH:
        assert target.send(user, method, uri, headers).status in refused, user
    assert target.send("admin", method, uri, headers).status == admin_status
