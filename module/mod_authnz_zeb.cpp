// The module record: directives, configuration and hook registration.
#include <apr_strings.h>
#include <http_request.h>
#include <mod_auth.h>

#include <string>

#include "check_credentials.h"
#include "config_warnings.h"
#include "hooks.h"
#include "mod_authnz_zeb.h"
#include "report_screening.h"
#include "status_handler.h"
#include "subreq_bypass.h"
#include "zeb_memcache_servers.h"

namespace {

// Location sections only, of the main server or of a virtual host: each
// virtual host may guard its own locations with its own service.
const char* refuse_outside_location(cmd_parms* cmd) {
  return ap_check_cmd_context(cmd, NOT_IN_LIMIT | NOT_IN_DIRECTORY | NOT_IN_FILES);
}

const char* AuthnzZEBPropertiesFile_cmd(cmd_parms* cmd, void* config, const char* arg) {
  if (const char* err = refuse_outside_location(cmd)) return err;
  auto* conf = static_cast<authnz_zeb_config_rec*>(config);
  conf->brimstack_properties_file = arg;
  note_properties_file(conf);
  return nullptr;
}

const char* join_words(apr_pool_t* pool, int argc, char* const argv[]) {
  const char* joined = argv[0];
  for (int i = 1; i < argc; ++i) joined = apr_pstrcat(pool, joined, " ", argv[i], nullptr);
  return joined;
}

// One or more servers and options, in one argument or several: the cache
// layer reads them as one list separated by spaces or commas.
const char* AuthnzZEBMemcacheServer_cmd(cmd_parms* cmd, void* config, int argc,
                                        char* const argv[]) {
  if (const char* err = refuse_outside_location(cmd)) return err;
  if (argc < 1) return "AuthnzZEBMemcacheServer takes one or more memcached servers";
  const char* servers = argc == 1 ? argv[0] : join_words(cmd->pool, argc, argv);
  // Parsed again by every connection; a list that no connection could use
  // is refused now rather than silently leaving the module without a cache.
  std::string problem;
  const auto list = zeb_memcache::parse_server_list(servers, cmd->temp_pool, &problem);
  if (!list) {
    return apr_psprintf(cmd->pool, "AuthnzZEBMemcacheServer '%s': %s", servers, problem.c_str());
  }
  for (const zeb_memcache::server& s : list->servers) note_status_server(s.label);
  static_cast<authnz_zeb_config_rec*>(config)->memcache_server = servers;
  return nullptr;
}

const char* AuthnzZEBMemcacheTTL_cmd(cmd_parms* cmd, void* config, const char* arg) {
  if (const char* err = refuse_outside_location(cmd)) return err;
  return parse_memcache_ttl(arg, &static_cast<authnz_zeb_config_rec*>(config)->memcache_ttl,
                            cmd->pool);
}

// One cache per process serves every location, so its size is set once, at
// the top level of the main server.
const char* AuthnzZEBRoleCacheSize_cmd(cmd_parms* cmd, void*, const char* arg) {
  if (const char* err = ap_check_cmd_context(cmd, GLOBAL_ONLY)) return err;
  apr_size_t bytes = 0;
  if (const char* err = parse_role_cache_size(arg, &bytes, cmd->pool)) return err;
  set_role_cache_limit(bytes);
  return nullptr;
}

// httpd's C++ view of command handlers is a function without parameters;
// httpd calls them back with the parameters TAKE1 or TAKE_ARGV gives. The cast goes
// through void (*)(), the type compilers accept as any function's.
template <typename Handler>
cmd_func handler(Handler fn) {
  return reinterpret_cast<cmd_func>(reinterpret_cast<void (*)()>(fn));
}

// ACCESS_CONF is httpd's narrowest class that admits <Location>; the handlers
// narrow it further. apache2ctl -L words ACCESS_CONF as "inside <Directory>,
// <Files>, <Location>, or <If>" and has no wording for Location alone, so the
// help text, which -L prints above it, names where the directives belong.
#define ZEB_WHERE " (<Location> and <LocationMatch> only, also in <VirtualHost>)"

const command_rec authnz_zeb_cmds[] = {
    {"AuthnzZEBPropertiesFile", handler(AuthnzZEBPropertiesFile_cmd), nullptr, ACCESS_CONF, TAKE1,
     "Path to Brimstack server properties file" ZEB_WHERE},
    {"AuthnzZEBMemcacheServer", handler(AuthnzZEBMemcacheServer_cmd), nullptr, ACCESS_CONF,
     TAKE_ARGV, "Memcached server HOST:PORT for internal cache" ZEB_WHERE},
    {"AuthnzZEBMemcacheTTL", handler(AuthnzZEBMemcacheTTL_cmd), nullptr, ACCESS_CONF, TAKE1,
     "Memcached server cache expire time in seconds" ZEB_WHERE},
    {"AuthnzZEBRoleCacheSize", handler(AuthnzZEBRoleCacheSize_cmd), nullptr, RSRC_CONF, TAKE1,
     "Megabytes of processed roles each httpd process keeps for later connections (main "
     "server, outside any section)"},
    {nullptr, nullptr, nullptr, 0, RAW_ARGS, nullptr}};

// "AuthBasicProvider zeb": mod_auth_basic hands the credentials to the same
// check that check_user makes.
const authn_provider zeb_authn_provider = {&zeb_check_password, nullptr};

// Every LoadModule line has run by now, so the subrequest-bypass name is
// taken over whichever module that shares it loaded first; mod_dav_svn looks
// it up only later, while it reads its directives.
int authnz_zeb_pre_config(apr_pool_t* pconf, apr_pool_t*, apr_pool_t*) {
  take_over_subreq_bypass(pconf);
  // A restart whose configuration drops the directive is back at the default.
  set_role_cache_limit(kDefaultRoleCacheMegabytes * 1024 * 1024);
  return OK;
}

void authnz_zeb_register_hooks(apr_pool_t* p) {
  register_config_warnings();
  ap_hook_pre_config(authnz_zeb_pre_config, nullptr, nullptr, APR_HOOK_REALLY_LAST);
  ap_hook_check_user_id(check_user, nullptr, nullptr, APR_HOOK_MIDDLE + 1);
  ap_register_auth_provider(p, AUTHN_PROVIDER_GROUP, "zeb", AUTHN_PROVIDER_VERSION,
                            &zeb_authn_provider, AP_AUTH_INTERNAL_PER_CONF);
  ap_hook_auth_checker(check_access, nullptr, nullptr, APR_HOOK_MIDDLE - 1);
  register_report_filters();
  register_status_hooks();
}

}  // namespace

extern "C" {
// STANDARD20_MODULE_STUFF spelled out, with the name httpd knows the module by
// (<IfModule mod_authnz_zeb.c>, apache2ctl -L) instead of this file's __FILE__.
AP_DECLARE_MODULE(authnz_zeb) = {
    MODULE_MAGIC_NUMBER_MAJOR,
    MODULE_MAGIC_NUMBER_MINOR,
    -1,
    "mod_authnz_zeb.c",
    nullptr,
    nullptr,
    MODULE_MAGIC_COOKIE,
    nullptr,
    create_authnz_zeb_dir_config,
    nullptr,
    nullptr,
    nullptr,
    authnz_zeb_cmds,
    authnz_zeb_register_hooks,
    AP_MODULE_FLAG_NONE,
};
}
