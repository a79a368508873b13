// The status page's httpd side: the shared segment, each child's slot, the
// handler "authnz-zeb-status" and a section in mod_status's page.
#ifndef STATUS_HANDLER_H
#define STATUS_HANDLER_H

#include <string>

void register_status_hooks();

// Names a configured memcached server, so that the page counts its
// operations; called while the configuration is read.
void note_status_server(const std::string& label);

#endif
