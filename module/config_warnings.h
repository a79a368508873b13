// Warnings about directive values: noted while httpd reads its configuration
// and logged to the server's error log once it is open.
#ifndef CONFIG_WARNINGS_H
#define CONFIG_WARNINGS_H

// Keeps text (which must live as long as the configuration) for the log.
void note_config_warning(const char* text);

// Hooks the clearing and the logging of the noted warnings into httpd's
// configuration cycle.
void register_config_warnings();

#endif
