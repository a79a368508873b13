"""The user keys the module stores service answers under (see the module's
cache_keys), for tests that read or plant memcached entries."""

import hashlib
import hmac


def _join(*fields):
    return ":".join((f or "").replace("%", "%25").replace(":", "%3A") for f in fields)


def password_digest(secret, password):
    return hmac.new(secret.encode(), password.encode(), hashlib.sha256).hexdigest()


def is_valid_user_key(endpoint, system_id, repository, user, secret, password):
    return _join(user, password_digest(secret, password), "isvaliduser", repository, system_id,
                 endpoint)


def role_paths_key(endpoint, system_id, repository, user):
    return _join(user, repository, system_id, "getrolepaths", "56", endpoint)


def external_system_id_key(endpoint):
    return _join("extsysid", endpoint)
