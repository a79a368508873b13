"""Users, repositories and roles of the stand-in server, and the answers of
the four ScmListener operations drawn from them.

Configuration (JSON object; every key optional):

    {
      "shared_secret": "s3cret",          # default: the built-in default secret
      "external_system_id": "exsy1001",   # absent or null: no id is returned
      "role_paths_list_supported": true,  # false: getRolePathsList is a fault
      "key_max_age": null,                # seconds a request key stays valid;
                                          # null: for ever (the module keeps
                                          # one key per client connection)
      "users": {
        "alice": {
          "password": "wonderland",
          "repositories": {               # the repositories alice may use
            "repo1": [                    # her roles there, in order
              {"id": "101", "pbps": ["view:/", "commit:/trunk"]},
              {"pbps": ["view:/tags"]},   # no "id": sent without repoRoleId
              {"id": "102"},              # no "pbps": sent without the array
              null                        # sent as a nil role entry
            ],
            "repo2": [],                  # may use it, holds no role
            "*": [...]                    # any other repository (optional)
          }
        }
      }
    }

isValidUser answers 0 for a known user with the right password on one of
her repositories, 1 for an unknown user or a wrong password, 2 for a
repository she may not use. getRolePathsList answers her roles in the
repository (none when user or repository is unknown); getRolePaths answers
the PBP strings of all those roles in one list. A repository named "*"
stands for every repository the user has no entry of its own for (for
suites that create repositories as they go).
"""

from brimstack_key import DEFAULT_SECRET

VALID = 0
BAD_CREDENTIALS = 1
REPOSITORY_DENIED = 2
ANY_REPOSITORY = "*"


def _check(condition, message):
    if not condition:
        raise ValueError(message)


def _check_role(role, where):
    if role is None:
        return
    _check(isinstance(role, dict), "%s: a role is an object or null" % where)
    unknown = set(role) - {"id", "pbps"}
    _check(not unknown, "%s: unknown role keys %s" % (where, sorted(unknown)))
    _check(role.get("id") is None or isinstance(role["id"], str), "%s: id is a string" % where)
    pbps = role.get("pbps")
    _check(pbps is None or (isinstance(pbps, list)
                            and all(p is None or isinstance(p, str) for p in pbps)),
           "%s: pbps is a list of strings" % where)


def validate(config):
    """Raise ValueError when `config` is not a configuration as documented."""
    _check(isinstance(config, dict), "configuration is a JSON object")
    known = {"shared_secret", "external_system_id", "role_paths_list_supported",
             "key_max_age", "users"}
    unknown = set(config) - known
    _check(not unknown, "unknown configuration keys %s" % sorted(unknown))
    _check(isinstance(config.get("shared_secret", ""), str), "shared_secret is a string")
    _check(config.get("external_system_id") is None
           or isinstance(config["external_system_id"], str), "external_system_id is a string")
    _check(isinstance(config.get("role_paths_list_supported", True), bool),
           "role_paths_list_supported is a boolean")
    age = config.get("key_max_age")
    _check(age is None or (isinstance(age, (int, float)) and not isinstance(age, bool)),
           "key_max_age is a number of seconds")
    users = config.get("users", {})
    _check(isinstance(users, dict), "users is an object")
    for name, user in users.items():
        _check(isinstance(user, dict), "user %s is an object" % name)
        _check(isinstance(user.get("password"), str), "user %s has a password string" % name)
        repos = user.get("repositories", {})
        _check(isinstance(repos, dict), "user %s: repositories is an object" % name)
        for repo, roles in repos.items():
            where = "user %s, repository %s" % (name, repo)
            _check(isinstance(roles, list), "%s: roles are a list" % where)
            for role in roles:
                _check_role(role, where)


class Directory:
    """A validated configuration, answering the service's questions."""

    def __init__(self, config):
        validate(config)
        self.config = config
        self.secret = config.get("shared_secret", DEFAULT_SECRET)
        self.external_system_id = config.get("external_system_id")
        self.role_paths_list_supported = config.get("role_paths_list_supported", True)
        self.key_max_age = config.get("key_max_age")
        self.users = config.get("users", {})

    def _roles(self, user, repository):
        """The user's roles in repository, or None where she may not use it."""
        repositories = user.get("repositories", {})
        roles = repositories.get(repository)
        return roles if roles is not None else repositories.get(ANY_REPOSITORY)

    def is_valid_user(self, username, password, repository):
        user = self.users.get(username)
        if user is None or user["password"] != password:
            return BAD_CREDENTIALS
        if self._roles(user, repository) is None:
            return REPOSITORY_DENIED
        return VALID

    def role_paths_list(self, username, repository):
        user = self.users.get(username) or {}
        return list(self._roles(user, repository) or [])

    def role_paths(self, username, repository):
        return [pbp for role in self.role_paths_list(username, repository)
                if role is not None for pbp in role.get("pbps") or []]
