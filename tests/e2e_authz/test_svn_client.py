"""Real svn users against a repository behind the module: what their roles
let them read, commit, remove, copy and move."""

import os

import pytest


def write(wc, path, text):
    with open(os.path.join(wc, path), "a") as f:
        f.write(text)


@pytest.fixture(params=["v2", "v1"])
def protocol_site(request, site):
    """The site over the client's HTTP v2 protocol and with it switched off."""
    return site.start(v2=request.param == "v2")


def test_checkout_and_update_leave_out_the_hidden_path(site):
    site.start()
    wc = site.checkout("dev")
    assert os.path.exists(os.path.join(wc, "src", "main.c"))
    assert os.path.exists(os.path.join(wc, "docs", "guide.txt"))
    assert not os.path.exists(os.path.join(wc, "secret"))
    assert "Preparing to authorize via subrequest" in [m for _, m in site.zeb.httpd.module_lines()]

    admin_wc = site.checkout("admin", name="wc-admin")
    write(admin_wc, "src/main.c", "/* changed */\n")
    write(admin_wc, "secret/key.txt", "another key\n")
    site.svn_ok("admin", "commit", "-q", "-m", "both", admin_wc)

    site.svn_ok("dev", "update", "-q", wc)
    with open(os.path.join(wc, "src", "main.c")) as f:
        assert "changed" in f.read()
    assert not os.path.exists(os.path.join(wc, "secret"))


@pytest.mark.parametrize("path, readable", [
    ("trunk/src/main.c", True),
    ("trunk/secret/key.txt", False),
])
def test_log_and_blame_follow_read_access(site, path, readable):
    site.start()
    url = "%s/%s" % (site.url, path)
    for command in (["log", url], ["blame", url]):
        result = site.svn("dev", *command)
        assert (result.returncode == 0) == readable, (command, result.stderr)
    log = site.svn_ok("dev", "log", "-v", site.url + "/trunk")
    assert "/trunk/src/main.c" in log
    assert "secret" not in log


def test_commit_is_granted_and_refused_by_path(protocol_site):
    site = protocol_site
    wc = site.checkout("dev")
    write(wc, "src/main.c", "/* granted */\n")
    site.svn_ok("dev", "commit", "-q", "-m", "src", wc)

    write(wc, "docs/guide.txt", "refused\n")
    refused = site.svn("dev", "commit", "-m", "docs", os.path.join(wc, "docs"))
    assert refused.returncode != 0
    assert "403" in refused.stderr or "forbidden" in refused.stderr.lower()
    head = site.svn_ok("reader", "cat", site.url + "/trunk/docs/guide.txt")
    assert "refused" not in head


def test_removing_a_tree_with_a_protected_subdirectory_is_refused(protocol_site):
    """The recursive check walks the revision or transaction root that
    mod_dav_svn gives for the request: it must find lib below src."""
    site = protocol_site
    mark = site.mark()
    refused = site.svn("dev", "rm", "-m", "src", site.url + "/trunk/src")
    assert refused.returncode != 0
    seen = site.messages(mark)
    assert "Checking action 'commit' (recursive) on '/trunk/src'" in seen
    assert "Action commit authorization FAILED" in seen
    assert "Method DELETE authorization FAILED" in seen
    assert not any(m.startswith(("Unable to get DAV resource", "Unable to find revision root"))
                   for m in seen)
    assert site.svn("reader", "ls", site.url + "/trunk/src/lib/util.c").returncode == 0

    site.svn_ok("dev", "rm", "-m", "tools", site.url + "/trunk/tools")
    assert site.svn("reader", "ls", site.url + "/trunk/tools").returncode != 0


@pytest.mark.parametrize("path", ["src/main.c", "tools"])
def test_deleting_what_another_commit_removed_is_out_of_date(protocol_site, path):
    """The DELETE names a path the transaction no longer holds; the user may
    commit there, so mod_dav_svn answers, not the module."""
    site = protocol_site
    wc, stale = site.checkout("dev"), site.checkout("dev", name="wc-stale")
    site.svn_ok("dev", "rm", "-q", os.path.join(wc, path))
    site.svn_ok("dev", "commit", "-q", "-m", "gone", wc)
    site.svn_ok("dev", "rm", "-q", os.path.join(stale, path))
    mark = site.mark()
    result = site.svn("dev", "commit", "-m", "again", stale)
    assert result.returncode != 0
    assert "out of date" in result.stderr or "not found" in result.stderr, result.stderr
    assert "403" not in result.stderr and "orbidden" not in result.stderr, result.stderr
    assert "Method DELETE authorization SUCCEEDED" in site.messages(mark)


@pytest.mark.parametrize("user, source, destination, granted", [
    ("dev", "trunk/src", "branches/b1", True),
    ("dev", "trunk/src", "tags/t1", False),
    # The copy would create branches/rel/main.c, which dev may only view.
    ("dev", "trunk/src", "branches/rel", False),
    # The source must be readable throughout.
    ("dev", "trunk", "branches/everything", False),
    ("mover", "trunk/README", "branches/README", True),
])
def test_copy_needs_commit_at_destination_and_view_of_source(protocol_site, user, source,
                                                            destination, granted):
    site = protocol_site
    result = site.svn(user, "cp", "-m", "copy", "%s/%s" % (site.url, source),
                      "%s/%s" % (site.url, destination))
    assert (result.returncode == 0) == granted, result.stderr
    exists = site.svn("reader", "ls", "%s/%s" % (site.url, destination)).returncode == 0
    assert exists == granted


@pytest.mark.parametrize("user, granted", [("dev", True), ("mover", False)])
def test_move_needs_commit_on_both_ends(protocol_site, user, granted):
    site = protocol_site
    result = site.svn(user, "mv", "-m", "move", site.url + "/trunk/src/main.c",
                      site.url + "/branches/main.c")
    assert (result.returncode == 0) == granted, result.stderr
    assert (site.svn("reader", "ls", site.url + "/trunk/src/main.c").returncode != 0) == granted


def test_global_commit_user_is_granted_everything(site):
    site.start()
    wc = site.checkout("admin")
    assert os.path.exists(os.path.join(wc, "secret", "key.txt"))
    write(wc, "docs/guide.txt", "admin\n")
    site.svn_ok("admin", "commit", "-q", "-m", "docs", wc)
    mark = site.mark()
    site.svn_ok("admin", "rm", "-m", "all", site.url + "/trunk")
    seen = site.messages(mark)
    assert "Global commit access granted" in seen
    assert not any(m.startswith("Checking action") for m in seen)


def test_hidden_paths_log_nothing_at_warning_and_a_refused_commit_one_line(site):
    site.start()
    mark = site.mark()
    wc = site.checkout("dev")
    site.svn_ok("dev", "log", "-v", site.url)
    site.svn_ok("dev", "ls", "-R", site.url)
    site.svn_ok("dev", "update", "-q", wc)
    warned = lambda: [m for level, m in site.zeb.httpd.messages_since(mark) if level != "debug"]
    assert warned() == []

    reader_wc = site.checkout("reader")
    write(reader_wc, "README", "refused\n")
    mark = site.mark()
    assert site.svn("reader", "commit", "-m", "no", reader_wc).returncode != 0
    assert warned() == ["Refused user 'reader': commit (POST) in repository 'repo1', path '/'"]
