// The recursive check over a tree of a Subversion filesystem root: every
// node at and below a path must be allowed by some role. Plain APR and
// svn_fs, no httpd, so that the module and the command-line tools share one
// walk.
#ifndef ZEB_TREE_WALK_H
#define ZEB_TREE_WALK_H

#include <apr_pools.h>
#include <apr_tables.h>
#include <svn_fs.h>

#include "zeb_authorizer.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum zeb_walk_status_t {
  ZEB_WALK_GRANTED = 0,  // every node is allowed by some role
  ZEB_WALK_DENIED,       // the node at real_path is allowed by no role
  ZEB_WALK_NO_KIND,      // the kind of the node at real_path is unknown
  ZEB_WALK_NO_ENTRIES    // the directory at real_path cannot be listed, or
                         // real_path names no node at all
} zeb_walk_status_t;

typedef struct zeb_walk_result_t {
  zeb_walk_status_t status;
  const char* real_path;    // where the walk stopped; null when granted
  const char* check_path;   // the path its permissions were judged at
  apr_size_t nodes_judged;  // nodes the roles were asked about
} zeb_walk_result_t;

// Walks the tree at real_path in root, judging each node at check_path
// extended by the same entry names (both canonical). roles holds
// role_processed_pbps_t* in the order they are consulted; each is processed
// on first use into roles->pool. The walk takes node kinds from directory
// entries and skips a directory's subtree where some role allows the
// directory and everything below it (zeb::grants_subtree); it answers as a
// visit of every node would. It stops at the first node that fails. The
// result's paths are allocated from pool.
void zeb_walk_tree(zeb_walk_result_t* result, apr_array_header_t* roles,
                   pbp_access_t required_access, svn_fs_root_t* root, const char* real_path,
                   const char* check_path, apr_pool_t* pool);

#ifdef __cplusplus
}
#endif

#endif
