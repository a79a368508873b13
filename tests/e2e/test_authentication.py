"""Authentication of Basic credentials through the connection cache,
memcached and the stand-in server's isValidUser."""


def calls(server, operation="isValidUser"):
    return server.counters().get(operation, 0)


def test_repeated_credentials_are_answered_by_the_connection(zeb):
    zeb.start()
    client = zeb.client()
    first = client.request("/svn/repo1/", "alice", "wonderland")
    assert first.status == 200, zeb.httpd.log()
    assert first.getheader("ZebUserName") == "alice"
    assert calls(zeb.brimstack) == 1

    mark = zeb.httpd.mark()
    traffic = zeb.memcached.traffic()
    for _ in range(3):
        again = client.request("/svn/repo1/", "alice", "wonderland")
        assert again.status == 200
        assert again.getheader("ZebUserName") == "alice"
    assert calls(zeb.brimstack) == 1
    assert zeb.memcached.traffic() == traffic
    messages = [m for _, m in zeb.httpd.messages_since(mark)]
    assert messages.count("User 'alice' authentication OK (per cache)") == 3
