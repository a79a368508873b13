// Names of properties that the module and zebauthz both read.
#ifndef PROPERTY_NAMES_H
#define PROPERTY_NAMES_H

inline constexpr char kListenerSslProperty[] = "dwmain.integration.listener_ssl";
inline constexpr char kSharedSecretProperty[] = "dwmain.integration.security.shared_secret";

#endif
