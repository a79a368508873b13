"""Where httpd accepts the module's directives."""

import os
import re
import subprocess

import pytest

from harness.httpd import APACHE2, Httpd
from harness.repositories import write_properties

DIRECTIVES = [
    "AuthnzZEBPropertiesFile /nonexistent/brimstack.properties",
    "AuthnzZEBMemcacheServer 127.0.0.1:11211",
    "AuthnzZEBMemcacheTTL 300",
]

PLACEMENTS = [
    ("location", "<Location /svn>\n{d}\n</Location>", None),
    ("location match", "<LocationMatch ^/svn>\n{d}\n</LocationMatch>", None),
    ("location in virtual host",
     "<VirtualHost 127.0.0.1:*>\n<Location /svn>\n{d}\n</Location>\n</VirtualHost>", None),
    ("location match in virtual host",
     "<VirtualHost *>\n<LocationMatch ^/svn>\n{d}\n</LocationMatch>\n</VirtualHost>", None),
    ("virtual host itself", "<VirtualHost *>\n{d}\n</VirtualHost>",
     "not allowed in <VirtualHost> context"),
    ("directory in virtual host", "<VirtualHost *>\n<Directory /tmp>\n{d}\n</Directory>\n"
     "</VirtualHost>", "cannot occur within <Directory> section"),
    ("files", "<Files x>\n{d}\n</Files>", "cannot occur within <Files> section"),
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
        assert "<Location>" in entry and "<VirtualHost>" in entry


def test_start_up_names_version_and_what_is_wrong_with_properties_files(workdir):
    files = {
        "sound": "subversion.repository_base=/var/lib/svn\n",
        "mistyped": "subversion.repository_base=/b\ndwmain.integration.listener_prot=80\n",
        "no base": "svn.authnz.timeout=5\n",
        "unreadable": "subversion.repository_base=/b\n",
    }
    sections = []
    for i, (name, text) in enumerate(files.items()):
        path = os.path.join(workdir, "p%d.properties" % i)
        write_properties(path, text=text)
        sections.append("<Location /l%d>\nAuthnzZEBPropertiesFile %s\n</Location>" % (i, path))
    sections.append("<Location /gone>\nAuthnzZEBPropertiesFile %s/missing\n</Location>" % workdir)
    httpd = Httpd(workdir, [], workdir, extra_config="\n".join(sections))
    # httpd hands the work directory to its children's user, who may not read
    # a file of mode 0 (root, who starts httpd, still may).
    os.chmod(os.path.join(workdir, "p3.properties"), 0)
    httpd.start()
    try:
        messages = httpd.messages_since(0)
    finally:
        httpd.stop()
    warnings = sorted(m for level, m in messages if level == "warn")
    p = os.path.join(workdir, "p%d.properties")
    expected = [
        r"AuthnzZEBPropertiesFile %s cannot be read( by user \w+|: Permission denied)"
        % re.escape(p % 3),
        r"AuthnzZEBPropertiesFile %s/missing cannot be read: No such file or directory"
        % re.escape(workdir),
        r"No subversion\.repository_base in %s: <Location /l2> cannot read the external system id"
        % re.escape(p % 2),
        r"Unknown key dwmain\.integration\.listener_prot in %s \(did you mean "
        r"dwmain\.integration\.listener_port\?\)" % re.escape(p % 1),
    ]
    assert len(warnings) == len(expected), warnings
    for pattern in expected:
        assert len([w for w in warnings if re.match(pattern, w)]) == 1, (pattern, warnings)
    notices = [m for level, m in messages if level == "notice"]
    assert len(notices) == 1 and re.fullmatch(
        r"mod_authnz_zeb \d+\.\d+\.\d+ \(libmemcached \S+, gSOAP 2\.\d+\.\d+, OpenSSL \S+\)",
        notices[0]), messages


@pytest.mark.parametrize("config, refusal", [
    ("AuthnzZEBRoleCacheSize 0", None),
    ("AuthnzZEBRoleCacheSize 65536", None),
    ("AuthnzZEBRoleCacheSize 65537", "not a whole number of megabytes from 0 to 65536"),
    ("AuthnzZEBRoleCacheSize 32MB", "not a whole number of megabytes"),
    ("AuthnzZEBRoleCacheSize -1", "not a whole number of megabytes"),
    ("<Location /svn>\nAuthnzZEBRoleCacheSize 8\n</Location>", "not allowed in <Location> context"),
    ("<VirtualHost 127.0.0.1:*>\nAuthnzZEBRoleCacheSize 8\n</VirtualHost>",
     "cannot occur within <VirtualHost> section"),
], ids=["off", "largest", "too large", "unit", "negative", "location", "virtual host"])
def test_role_cache_size_is_whole_megabytes_at_the_top_level(workdir, config, refusal):
    httpd = Httpd(workdir, [], workdir, extra_config=config)
    status, output = httpd.check_config()
    if refusal is None:
        assert status == 0, output
    else:
        assert status != 0
        assert "AuthnzZEBRoleCacheSize" in output
        assert refusal in output
