"""End-to-end harness: a real memcached, the stand-in Brimstack server and a
real httpd (mpm_event) loading mod_authnz_zeb, on free loopback ports in a
temporary directory."""
