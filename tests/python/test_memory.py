"""Repeated use must not make the process grow. The binding allocates from
APR pools, which tracemalloc cannot see, so growth is measured as resident
set size."""

import os

from zebauthorizer import ZebAuthorizer

# Generous against allocator noise, far below what a leak of even one small
# block per call would add over the call counts below.
TOLERANCE = 2 * 1024 * 1024

ROLES = {
    "dev": ["view:/", "commit:/trunk", "none:/trunk/hidden", "commit:/trunk/hidden/*.txt"],
    "proj": ["view:/proj", "commit:/proj/**/src", "none:/proj/*/src/hidden"],
    "ops": ["none:/", "view:/ops/*/logs"],
}
QUESTIONS = [(path, access) for access in (1, 2) for path in [
    "/trunk/x", "/trunk/hidden/a.txt", "/proj/x/src/hidden/y", "/proj/x/src/a",
    "/ops/eu/logs/today", "/branches/b1/deep/path/file.c"]]


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def growth(action, calls):
    for _ in range(calls // 10):
        action()
    before = resident_bytes()
    for _ in range(calls):
        action()
    return resident_bytes() - before


def test_repeated_questions_neither_grow_nor_change_answers():
    authorizer = ZebAuthorizer(ROLES)
    first = [authorizer.has_non_recursive_access(p, a) for p, a in QUESTIONS]

    def ask():
        for path, access in QUESTIONS:
            authorizer.has_non_recursive_access(path, access)
        authorizer.determine_global_access()

    assert growth(ask, 20000) < TOLERANCE
    assert [authorizer.has_non_recursive_access(p, a) for p, a in QUESTIONS] == first


def test_rebuilding_and_dropping_objects_do_not_grow():
    authorizer = ZebAuthorizer()

    def rebuild():
        authorizer.__init__(ROLES)
        authorizer.has_non_recursive_access("/proj/x/src/a", 2)
        ZebAuthorizer(ROLES).has_non_recursive_access("/trunk/hidden/a.txt", 1)

    assert growth(rebuild, 20000) < TOLERANCE
