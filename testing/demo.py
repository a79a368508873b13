"""A guided svn session against a repository guarded by mod_authnz_zeb.

Starts memcached, the stand-in Brimstack server and httpd (with the module
named by ZEB_MODULE) on loopback ports in a temporary directory, imports a
small project, then runs the real svn client as users of different roles and
shows which operations the module grants and which it refuses; then asks
zebauthz (named by ZEBAUTHZ) why two of them were refused. With --serve
the services keep running until Ctrl-C, for trying svn by hand."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from brimstack_fixture import BrimstackServer  # noqa: E402
from harness.fixtures import Deployment, server_config  # noqa: E402
from harness.memcached import Memcached  # noqa: E402

REPOSITORY = "repo1"

PROJECT = {
    "trunk/README": "A small project guarded path by path.\n",
    "trunk/src/main.c": "int main(void) { return 0; }\n",
    "trunk/docs/guide.txt": "How to build.\n",
    "trunk/secret/keys.txt": "not for everyone\n",
    "branches/.keep": "",
}


def user(password, *pbps):
    return {"password": password,
            "repositories": {REPOSITORY: [{"id": "demo-" + password, "pbps": list(pbps)}]}}


USERS = {
    # The maintainer may change everything.
    "maria": user("maria-pw", "commit:/"),
    # A developer: commits to the sources and branches, reads the docs, and
    # never sees the secret directory.
    "dev": user("dev-pw", "view:/", "commit:/trunk", "view:/trunk/docs", "none:/trunk/secret",
                "commit:/branches"),
    # A reader sees everything but the secret directory and changes nothing.
    "reader": user("reader-pw", "view:/", "none:/trunk/secret"),
}


class Session:
    def __init__(self, workdir, url):
        self.workdir = workdir
        self.url = url
        self.config_dir = os.path.join(workdir, "svn-config")

    def svn(self, who, *args, password=None):
        password = password or USERS[who]["password"]
        command = ["svn", "--non-interactive", "--no-auth-cache", "--config-dir",
                   self.config_dir, "--username", who, "--password", password] + list(args)
        return subprocess.run(command, capture_output=True, text=True, cwd=self.workdir,
                              timeout=120)

    def step(self, title, who, *args, password=None, expect_ok=True):
        shown = " ".join(a if " " not in a else repr(a) for a in args)
        print("\n$ svn %s        # as %s: %s" % (shown, who, title))
        result = self.svn(who, *args, password=password)
        output = (result.stdout + result.stderr).strip()
        if output:
            print("  " + output.replace("\n", "\n  "))
        verdict = "GRANTED" if result.returncode == 0 else "REFUSED"
        print("  -> %s" % verdict)
        if (result.returncode == 0) != expect_ok:
            raise SystemExit("demo: '%s' was %s, which its roles do not say" % (title, verdict))
        return result


def import_project(workdir, repos_dir):
    source = os.path.join(workdir, "project")
    for path, text in PROJECT.items():
        full = os.path.join(source, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)
    subprocess.run(["svn", "import", "-q", "--config-dir", os.path.join(workdir, "svn-config"),
                    "-m", "Initial import", source,
                    "file://" + os.path.join(repos_dir, REPOSITORY)],
                   check=True, capture_output=True)


def write(path, text):
    with open(path, "a") as f:
        f.write(text)


def run_session(session):
    wc_dev = os.path.join(session.workdir, "wc-dev")
    wc_reader = os.path.join(session.workdir, "wc-reader")
    trunk = session.url + "/trunk"

    session.step("check out trunk (the secret directory is left out)", "dev", "checkout", trunk,
                 wc_dev)
    print("  working copy holds: %s" % ", ".join(sorted(os.listdir(wc_dev))))
    session.step("read a hidden file", "dev", "cat", trunk + "/secret/keys.txt", expect_ok=False)

    write(os.path.join(wc_dev, "src", "main.c"), "/* faster */\n")
    session.step("commit a change to the sources", "dev", "commit", "-m", "Speed up",
                 os.path.join(wc_dev, "src"))
    write(os.path.join(wc_dev, "docs", "guide.txt"), "Edited by dev.\n")
    session.step("commit a change to the docs (view only)", "dev", "commit", "-m", "Docs",
                 os.path.join(wc_dev, "docs"), expect_ok=False)
    session.step("branch the sources", "dev", "copy", "-m", "Branch", trunk + "/src",
                 session.url + "/branches/feature")
    session.step("branch all of trunk, which holds a directory it cannot see", "dev", "copy",
                 "-m", "Branch", trunk, session.url + "/branches/everything", expect_ok=False)
    session.step("delete trunk, which holds a directory it cannot see", "dev", "delete", "-m",
                 "Clean up", trunk, expect_ok=False)

    session.step("check out trunk", "reader", "checkout", trunk, wc_reader)
    write(os.path.join(wc_reader, "README"), "Edited by reader.\n")
    session.step("commit anything", "reader", "commit", "-m", "Try", wc_reader, expect_ok=False)
    session.step("log with a wrong password", "reader", "log", trunk, password="guess",
                 expect_ok=False)

    session.step("read the secret file", "maria", "cat", trunk + "/secret/keys.txt")
    session.step("delete the branch", "maria", "delete", "-m", "Done",
                 session.url + "/branches/feature")


def explain_refusals(deployment):
    """Asks zebauthz (named by ZEBAUTHZ) why dev could neither commit to the
    docs nor delete trunk: dev's roles as the service gives them to the
    module, explained on the repository as the module walks it."""
    tool = os.environ.get("ZEBAUTHZ")
    if not tool:
        return
    fetch = [tool, "fetch", "--json", "--properties", deployment.properties_file, "--user", "dev",
             "--repository", REPOSITORY]
    repos = os.path.join(deployment.repos_dir, REPOSITORY)
    explain = [tool, "explain", "--roles", "-", "--recursive", "--repos", repos, "commit",
               "/trunk/docs/guide.txt", "/trunk"]
    shown = {deployment.properties_file: "brimstack.properties", repos: "REPOS/" + REPOSITORY}
    print("\n$ zebauthz %s \\\n    | zebauthz %s        # why was dev refused?" % tuple(
        " ".join(shown.get(a, a) for a in command[1:]) for command in (fetch, explain)))
    roles = subprocess.run(fetch, capture_output=True, text=True, timeout=60)
    if roles.returncode != 0:
        raise SystemExit("demo: zebauthz fetch failed: %s" % roles.stderr.strip())
    result = subprocess.run(explain, input=roles.stdout, capture_output=True, text=True,
                            timeout=60)
    print("  " + (result.stdout + result.stderr).strip().replace("\n", "\n  "))
    if result.returncode != 1:
        raise SystemExit("demo: zebauthz answered %d, not the refusals the module made"
                         % result.returncode)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--serve", action="store_true",
                        help="keep the services running after the session until Ctrl-C")
    args = parser.parse_args()

    workdir = tempfile.mkdtemp(prefix="zeb-demo-")
    os.chmod(workdir, 0o755)
    memcached = Memcached().start()
    deployment = None
    try:
        with BrimstackServer(server_config(users=USERS)) as brimstack:
            deployment = Deployment(workdir, memcached, brimstack)
            import_project(workdir, deployment.repos_dir)
            deployment.start()
            url = "http://127.0.0.1:%d/svn/%s" % (deployment.httpd.port, REPOSITORY)
            print("Repository %s is served at %s" % (REPOSITORY, url))
            print("Users: %s" % ", ".join("%s (%s)" % (u, ", ".join(
                USERS[u]["repositories"][REPOSITORY][0]["pbps"])) for u in USERS))
            run_session(Session(workdir, url))
            explain_refusals(deployment)
            if args.serve:
                print("\nThe module's decisions are logged in %s" % deployment.httpd.error_log)
                print("Serving until Ctrl-C: svn --username dev --password dev-pw ls %s" % url)
                try:
                    deployment.httpd.process.wait()
                except KeyboardInterrupt:
                    pass
    finally:
        if deployment is not None:
            deployment.stop()
        memcached.stop()
        if not args.serve:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
