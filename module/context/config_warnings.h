// Start-up messages, logged to the server's error log once httpd has read
// its configuration: the module's version and libraries (NOTICE), and the
// checks of the locations' properties files (WARNING).
#ifndef CONFIG_WARNINGS_H
#define CONFIG_WARNINGS_H

#include "mod_authnz_zeb.h"

// Keeps conf (which lives as long as the configuration) for the check of
// its properties file.
void note_properties_file(const authnz_zeb_config_rec* conf);

// Hooks the noting and the checking into httpd's configuration cycle.
void register_config_warnings();

#endif
