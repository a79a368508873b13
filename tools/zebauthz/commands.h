// The subcommands; each returns its exit status or throws failure.
#ifndef ZEBAUTHZ_COMMANDS_H
#define ZEBAUTHZ_COMMANDS_H

#include <apr_pools.h>

#include <string>
#include <vector>

namespace zebauthz {

int run_explain(const std::vector<std::string>& args, apr_pool_t* pool);
int run_lint(const std::vector<std::string>& args, apr_pool_t* pool);
int run_fetch(const std::vector<std::string>& args, apr_pool_t* pool);
int run_flush(const std::vector<std::string>& args, apr_pool_t* pool);
int run_status(const std::vector<std::string>& args, apr_pool_t* pool);
int run_key(const std::vector<std::string>& args, apr_pool_t* pool);

}  // namespace zebauthz

#endif
