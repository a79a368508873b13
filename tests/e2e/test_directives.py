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


def test_ttl_that_is_no_number_is_accepted(workdir):
    httpd = Httpd(workdir, [], workdir,
                  extra_config="<Location /svn>\nAuthnzZEBMemcacheTTL soon\n</Location>")
    status, output = httpd.check_config()
    assert status == 0, output


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


def test_ttl_that_will_not_mean_what_it_says_is_warned_at_start_up(workdir):
    ttls = {"0": True, "-5": True, "2592001": True, "10m": True, "600": False, "2592000": False}
    sections = "\n".join("<Location /ttl%d>\nAuthnzZEBMemcacheTTL %s\n</Location>" % (i, ttl)
                         for i, ttl in enumerate(ttls))
    httpd = Httpd(workdir, [], workdir, extra_config=sections)
    httpd.start()
    try:
        warnings = [m for level, m in httpd.messages_since(0) if level == "warn"]
    finally:
        httpd.stop()
    for ttl, warned in ttls.items():
        named = [m for m in warnings if m.startswith("AuthnzZEBMemcacheTTL '%s' " % ttl)]
        assert len(named) == (1 if warned else 0), (ttl, warnings)
