import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "testing"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

pytest_plugins = ["harness.fixtures"]

import pytest  # noqa: E402


@pytest.fixture
def site(zeb, tmp_path):
    """The harness deployment with the users of authz_site and a populated
    repo1; call .start()."""
    from authz_site import Site

    return Site(zeb, tmp_path)
