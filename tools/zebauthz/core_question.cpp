#include "core_question.h"

namespace zebauthz {
namespace {

namespace core = zeb::decision;

class given_roles final : public core::role_source {
 public:
  explicit given_roles(apr_array_header_t* store) : store_(store) {}
  int load(const char*, apr_pool_t*, apr_array_header_t** roles,
           pbp_access_t* global_access) override {
    *roles = store_;
    *global_access = PBP_UNKNOWN;
    return 0;
  }

 private:
  apr_array_header_t* store_;
};

class opened_revision final : public core::tree_source {
 public:
  opened_revision(svn_fs_root_t* root, apr_pool_t* pool)
      : root_(root), memo_(core::make_walk_memo(pool)) {}
  svn_fs_root_t* root() override { return root_; }
  core::walk_memo* memo() override { return memo_; }

 private:
  svn_fs_root_t* root_;
  core::walk_memo* memo_;
};

class no_log final : public core::decision_log {
 public:
  bool debug_on() const override { return false; }
  void write(core::log_level, const char*) override {}
};

}  // namespace

core::verdict ask_core(apr_array_header_t* store, pbp_access_t required, const std::string& path,
                       bool recursive, svn_fs_root_t* root, apr_pool_t* pool) {
  given_roles roles(store);
  opened_revision tree(root, pool);
  no_log log;
  core::role_stores stores;
  core::decider decider{&stores, pool, nullptr, nullptr, &roles, &tree, &log, pool};
  const core::pending_check check{required, recursive ? ACCESS_RECURSIVE : ACCESS_NON_RECURSIVE,
                                  nullptr, path.c_str(), path.c_str()};
  return core::decide_check(decider, "explain", check);
}

}  // namespace zebauthz
