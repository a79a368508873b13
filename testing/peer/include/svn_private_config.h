/* Declarations that the suite's helper programs take from Subversion's own
   build tree, written out for building them against the installed
   libraries. Messages stay untranslated. */
#ifndef PEER_SVN_PRIVATE_CONFIG_H
#define PEER_SVN_PRIVATE_CONFIG_H

#define _(x) (x)
#define N_(x) x
#define Q_(x1, x2, n) (((n) == 1) ? (x1) : (x2))

#endif
