"""A COPY or MOVE whose destination lies in another repository: every
question about a path is decided with the roles of that path's repository,
also the bypass questions that follow the destination's subrequest."""

import pytest

from authz_site import ALL_USERS
from harness.fixtures import server_config

# Commit on /t and /trunk in repo2; in repo1 view except the hidden
# directory.
COPIER = {"password": "copierpw", "repositories": {
    "repo1": [{"id": "11", "pbps": ["view:/", "none:/trunk/secret"]}],
    "repo2": [{"id": "12", "pbps": ["view:/", "commit:/t", "commit:/trunk"]}]}}


@pytest.mark.parametrize("method, destination, status, refused_on", [
    # repo2's roles grant the destination, repo1's the source; mod_dav_svn
    # itself then declines to copy between repositories.
    ("COPY", "/t", 409, None),
    # Moving needs commit on the source, which repo1's roles do not give,
    # also when the destination has the same path in repo2.
    ("MOVE", "/t", 403, "Checking action 'commit' (recursive) on '/trunk/README'"),
    ("MOVE", "/trunk/README", 403, "Checking action 'commit' (recursive) on '/trunk/README'"),
])
def test_other_repository_never_decides_this_ones_paths(site, method, destination, status,
                                                        refused_on):
    site.zeb.brimstack.set_config(server_config(users=dict(ALL_USERS, copier=COPIER)))
    site.start()
    client = site.zeb.client()
    mark = site.mark()
    moved = client.request("/svn/repo1/trunk/README", "copier", "copierpw", method=method,
                           headers={"Destination": site.url.replace("repo1", "repo2") + destination})
    assert moved.status == status
    seen = site.messages(mark)
    if refused_on is not None:
        assert refused_on in seen

    # Bypass and auth_checker questions about repo1 on the same connection.
    listing = client.request("/svn/repo1/trunk/", "copier", "copierpw", method="PROPFIND",
                             headers={"Depth": "1"})
    assert listing.status == 207
    assert b"/svn/repo1/trunk/README" in listing.body
    assert b"/svn/repo1/trunk/secret/" not in listing.body
    assert client.request("/svn/repo1/trunk/secret/key.txt", "copier", "copierpw").status == 403
