"""explain decides as the module does: the authorization suite's users and
tree, each path asked of httpd and of the tool with the same roles."""

from authz_site import AUTHZ_USERS, password

from conftest import roles_json

PATHS = ["/", "/trunk", "/trunk/docs/guide.txt", "/trunk/secret/key.txt", "/trunk/src/lib/util.c",
         "/trunk/src/main.c", "/branches/rel/main.c", "/tags"]
# A method the module checks for the action on the path itself.
METHODS = {"view": "GET", "commit": "PUT"}


def test_explain_agrees_with_the_module(tool, site):
    site.start()
    disagreements = []
    for user, entry in sorted(AUTHZ_USERS.items()):
        if "repo1" not in entry["repositories"]:
            continue
        roles = [(role.get("id"), role.get("pbps", [])) for role in entry["repositories"]["repo1"]]
        for action, method in METHODS.items():
            decisions = tool.json("explain", "--roles", "-", action, *PATHS,
                                  stdin=roles_json(*roles))["decisions"]
            for path, decision in zip(PATHS, decisions):
                status = site.send(user, path, method, body=b"x" if method == "PUT" else None).status
                assert status != 401, (user, path, method)
                if decision["granted"] != (status != 403):
                    disagreements.append((user, action, path, status, decision["granted"]))
    assert disagreements == []
