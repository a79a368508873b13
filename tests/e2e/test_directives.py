"""Where httpd accepts the module's directives."""

import subprocess

import pytest

from harness.httpd import APACHE2, Httpd

DIRECTIVES = [
    "AuthnzZEBPropertiesFile /nonexistent/brimstack.properties",
    "AuthnzZEBMemcacheServer 127.0.0.1:11211",
    "AuthnzZEBMemcacheTTL 300",
]

PLACEMENTS = [
    ("location", "<Location /svn>\n{d}\n</Location>", None),
    ("location match", "<LocationMatch ^/svn>\n{d}\n</LocationMatch>", None),
    ("location in virtual host",
     "<VirtualHost 127.0.0.1:*>\n<Location /svn>\n{d}\n</Location>\n</VirtualHost>",
     "cannot occur within <VirtualHost> section"),
    ("directory", "<Directory /tmp>\n{d}\n</Directory>", "cannot occur within <Directory> section"),
    ("limit in location", "<Location /svn>\n<Limit GET>\n{d}\n</Limit>\n</Location>",
     "cannot occur within <Limit> or <LimitExcept> section"),
    ("top level", "{d}", "not allowed here"),
]


@pytest.mark.parametrize("directive", DIRECTIVES, ids=lambda d: d.split()[0])
@pytest.mark.parametrize("placement", PLACEMENTS, ids=lambda p: p[0])
def test_directive_placement(workdir, directive, placement):
    _, template, refusal = placement
    httpd = Httpd(workdir, [], workdir, extra_config=template.format(d=directive))
    status, output = httpd.check_config()
    if refusal is None:
        assert status == 0, output
    else:
        assert status != 0
        assert directive.split()[0] in output
        assert refusal in output


# Values no connection could use, refused while httpd reads its configuration.
VALUES = [
    ("AuthnzZEBMemcacheTTL 2592000", None),
    ("AuthnzZEBMemcacheTTL 10m", "not a whole number of seconds from 1 to 2592000"),
    ("AuthnzZEBMemcacheTTL abc", "not a whole number of seconds"),
    ("AuthnzZEBMemcacheTTL -5", "not a whole number of seconds"),
    ("AuthnzZEBMemcacheTTL 0", "not a whole number of seconds"),
    ("AuthnzZEBMemcacheTTL 2592001", "not a whole number of seconds"),
    ("AuthnzZEBMemcacheServer 127.0.0.1:11211 timeout=200 retry=0", None),
    ("AuthnzZEBMemcacheServer 127.0.0.1:70000", "port 1 to 65535"),
    ("AuthnzZEBMemcacheServer 127.0.0.1 timeout=abc", "'timeout=abc': timeout takes whole"),
    ("AuthnzZEBMemcacheServer 127.0.0.1 retry=-1", "'retry=-1': retry takes whole"),
    ("AuthnzZEBMemcacheServer 127.0.0.1 weight=2", "'weight=2': unknown option"),
]


@pytest.mark.parametrize("directive, refusal", VALUES, ids=[v[0] for v in VALUES])
def test_directive_value(workdir, directive, refusal):
    httpd = Httpd(workdir, [], workdir, extra_config="<Location /svn>\n%s\n</Location>" % directive)
    status, output = httpd.check_config()
    if refusal is None:
        assert status == 0, output
    else:
        assert status != 0
        assert "Syntax error" in output and refusal in output, output


def test_httpd_knows_the_module_by_its_c_name(workdir):
    # The name other modules' configurations test for, and -L prints.
    httpd = Httpd(workdir, [], workdir, extra_config=(
        '<IfModule !mod_authnz_zeb.c>\nError "module not known as mod_authnz_zeb.c"\n</IfModule>'))
    status, output = httpd.check_config()
    assert status == 0, output
    listing = subprocess.run([APACHE2, "-f", httpd.conf_file, "-L"], capture_output=True,
                             text=True).stdout
    for directive in DIRECTIVES:
        name = directive.split()[0]
        entry = listing.split("%s (mod_authnz_zeb.c)\n" % name, 1)[1].split("\n", 1)[0]
        # The help line says where the directive belongs: httpd's own
        # wording below it cannot name <Location> alone.
        assert "<Location>" in entry and "main server only" in entry
