"""Reading a hidden file or listing a hidden directory through every URI form
that reaches it. Each row runs in every Location as each attacker, and as
admin, who must get the marker that the attackers must not."""

import pytest

from attack_site import LOCATIONS, SECRET, SECRET_LOG, SECRET_PROP, revealed

ALLPROP = '<?xml version="1.0"?><propfind xmlns="DAV:"><allprop/></propfind>'
DEPTH1 = {"Depth": "1"}
BOTH = ("dev", "reader")
DEV = ("dev",)  # none:/**/*.key hides id.key from dev only

# name, method, path in the repository's URI space, headers, attackers, the
# marker, and whether to use the port without slash merging.
ROWS = [
    ("plain", "GET", "/trunk/secret/key.txt", {}, BOTH, SECRET, False),
    ("bc", "GET", "/!svn/bc/2/trunk/secret/key.txt", {}, BOTH, SECRET, False),
    ("rvr", "GET", "/!svn/rvr/2/trunk/secret/key.txt", {}, BOTH, SECRET, False),
    ("ver", "GET", "/!svn/ver/2/trunk/secret/key.txt", {}, BOTH, SECRET, False),
    ("label", "GET", "/trunk/secret/key.txt", {"Label": "1"}, BOTH, SECRET, False),
    ("encoded name", "GET", "/trunk/%73ecret/key.txt", {}, BOTH, SECRET, False),
    ("encoded special", "GET", "/%21svn/%62c/2/trunk/secret/key.txt", {}, BOTH, SECRET, False),
    ("encoded all", "GET", "/%74%72%75%6e%6b/%73%65%63%72%65%74/%6b%65%79%2e%74%78%74", {}, BOTH,
     SECRET, False),
    ("dot segment", "GET", "/trunk/docs/../secret/key.txt", {}, BOTH, SECRET, False),
    ("dot segments", "GET", "/trunk/./secret/./key.txt", {}, BOTH, SECRET, False),
    ("encoded dots", "GET", "/trunk/docs/%2e%2e/secret/key.txt", {}, BOTH, SECRET, False),
    ("dots in bc", "GET", "/!svn/bc/2/trunk/docs/../secret/key.txt", {}, BOTH, SECRET, False),
    ("dots behind encoded slash", "GET", "/trunk/docs/..%2fsecret/key.txt", {}, BOTH, SECRET,
     True),
    ("double slashes", "GET", "/trunk//secret//key.txt", {}, BOTH, SECRET, False),
    ("double slashes unmerged", "GET", "//trunk//secret//key.txt", {}, BOTH, SECRET, True),
    ("bc double slashes unmerged", "GET", "/!svn/bc/2//trunk//secret/key.txt", {}, BOTH, SECRET,
     True),
    ("encoded slash", "GET", "/trunk%2fsecret%2Fkey.txt", {}, BOTH, SECRET, True),
    ("trailing slash", "GET", "/trunk/secret/key.txt/", {}, BOTH, SECRET, False),
    ("path parameter", "GET", "/trunk/secret/key.txt;v=1", {}, BOTH, SECRET, False),
    ("encoded parameter", "GET", "/trunk/secret/key.txt%3Bv=1", {}, BOTH, SECRET, False),
    ("wildcard", "GET", "/trunk/src/id.key", {}, DEV, SECRET, False),
    ("wildcard bc", "GET", "/!svn/bc/1/trunk/src/id.key", {}, DEV, SECRET, False),
    ("wildcard encoded", "GET", "/trunk/src/id%2ekey", {}, DEV, SECRET, False),
    ("wildcard unmerged", "GET", "/trunk/src//id.key", {}, DEV, SECRET, True),
    ("wildcard trailing slash", "GET", "/trunk/src/id.key/", {}, DEV, SECRET, False),
    # Listings
    ("list hidden", "PROPFIND", "/trunk/secret/", DEPTH1, BOTH, b"key.txt", False),
    ("list hidden bc", "PROPFIND", "/!svn/bc/2/trunk/secret", DEPTH1, BOTH, b"key.txt", False),
    ("list hidden rvr", "PROPFIND", "/!svn/rvr/3/trunk//secret", DEPTH1, BOTH, b"key.txt", False),
    ("list parent", "PROPFIND", "/trunk/", DEPTH1, BOTH, b"/trunk/secret/", False),
    ("list parent props", "PROPFIND", "/trunk/", DEPTH1, BOTH, SECRET_PROP.encode(), False),
    ("index of hidden", "GET", "/trunk/secret/", {}, BOTH, b"key.txt", False),
    ("index of parent", "GET", "/!svn/bc/1/trunk/", {}, BOTH, b"secret/", False),
    ("index with wildcard", "GET", "/trunk/src/", {}, DEV, b"id.key", False),
    # Revision properties of revisions that changed hidden paths only.
    ("revision resource", "PROPFIND", "/!svn/rev/2", {"Depth": "0"}, BOTH, SECRET_LOG.encode(),
     False),
    ("baseline", "PROPFIND", "/!svn/bln/3", {"Depth": "0"}, BOTH, SECRET_LOG.encode(), False),
    ("vcc with label", "PROPFIND", "/!svn/vcc/default", {"Depth": "0", "Label": "2"}, BOTH,
     SECRET_LOG.encode(), False),
]


@pytest.mark.parametrize("name, method, path, headers, attackers, marker, raw", ROWS,
                         ids=[row[0] for row in ROWS])
def test_hidden_path_is_not_read(target, name, method, path, headers, attackers, marker, raw):
    body = ALLPROP if method == "PROPFIND" else None
    failures = []
    for location in LOCATIONS:
        uri = "/%s/repo1%s" % (location, path)
        granted = target.send("admin", method, uri, headers, body, raw=raw)
        if granted.status not in (200, 207) or marker not in revealed(granted.body):
            failures.append(("admin", location, granted))
        # Service B's reader maintains everything.
        for user in attackers if location != "svnb" else DEV:
            refused = target.send(user, method, uri, headers, body, raw=raw)
            if marker in revealed(refused.body) or refused.status >= 500:
                failures.append((user, location, refused))
    assert not failures, failures
