"""The name whose password was checked is the name a request runs as, and
every request is authorized as its own user and repository."""

import os
import subprocess

import pytest

LUA_SETS_BOB = """\
function set_user(r)
    r.user = "bob"
    return apache2.DECLINED
end
"""


def _earlier_module_sets_bob(zeb):
    script = os.path.join(zeb.workdir, "set_user.lua")
    with open(script, "w") as f:
        f.write(LUA_SETS_BOB)
    location = zeb.location(directives=["LuaHookCheckUserID %s set_user" % script])
    location.basic_auth = False
    return dict(locations=[location], load_auth_basic=False,
                extra_config="LoadModule lua_module /usr/lib/apache2/modules/mod_lua.so\n")


def _no_earlier_module(zeb):
    return dict(locations=[zeb.location(directives=["SVNAutoversioning on"])],
                load_auth_basic=False)


def _validated_users(zeb):
    return [dict(c["params"])["username"] for c in zeb.brimstack.requests()
            if c["operation"] == "isValidUser"]


@pytest.mark.parametrize("setup, user, password, status", [
    (_no_earlier_module, "alice", "wonderland", 200),
    # The guest account's password under another name proves nothing.
    (_no_earlier_module, "alice", "visitor", 401),
    (_earlier_module_sets_bob, "bob", "builder", 200),
    # An earlier module's name and the credentials' name must agree.
    (_earlier_module_sets_bob, "alice", "wonderland", 401),
])
def test_request_runs_as_the_user_whose_password_was_checked(zeb, setup, user, password, status):
    zeb.start(**setup(zeb))
    response = zeb.client().request("/svn/repo1/", user, password)
    assert response.status == status, zeb.httpd.log()[-3000:]
    assert response.getheader("ZebUserName") == (user if status == 200 else None)
    assert set(_validated_users(zeb)) <= {user}


def test_commit_carries_the_validated_user_as_author(zeb):
    zeb.start(**_no_earlier_module(zeb))
    client = zeb.client()
    created = client.request("/svn/repo1/new.txt", "alice", "wonderland", method="PUT")
    assert created.status == 201, zeb.httpd.log()[-3000:]
    author = subprocess.run(["svnlook", "author", os.path.join(zeb.repos_dir, "repo1")],
                            capture_output=True, text=True, check=True).stdout.strip()
    assert author == "alice"
    assert client.request("/svn/repo1/other.txt", "alice", "visitor", method="PUT").status == 401
