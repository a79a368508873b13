import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "testing"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

pytest_plugins = ["harness.fixtures"]

import pytest  # noqa: E402


@pytest.fixture(scope="session")
def target(memcached, brimstack):
    """The one httpd every attack is sent to; see attack_site."""
    from attack_site import Target

    target = Target(memcached, brimstack)
    try:
        yield target.start()
    finally:
        target.stop()
