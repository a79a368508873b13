// Authorization entries. Until path permissions are enforced here they leave
// the decision to httpd's other authorization modules.
#include "mod_authnz_zeb.h"

int check_access(request_rec*) {
  return DECLINED;
}

int zeb_subreq_bypass(request_rec*, const char*, const char*) {
  return DECLINED;
}
