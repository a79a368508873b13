"""Subversion's own command-line test suite run against httpd with and
without mod_authnz_zeb in front of mod_dav_svn (scripts/peer-suite)."""
