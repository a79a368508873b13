#include "method_table.h"

#include <httpd.h>

#include <array>

// The table below is indexed by httpd's method numbers; an httpd that numbers
// its methods differently must not build against it.
static_assert(M_GET == 0 && M_PUT == 1 && M_POST == 2 && M_DELETE == 3 && M_CONNECT == 4);
static_assert(M_OPTIONS == 5 && M_TRACE == 6 && M_PATCH == 7 && M_PROPFIND == 8);
static_assert(M_PROPPATCH == 9 && M_MKCOL == 10 && M_COPY == 11 && M_MOVE == 12);
static_assert(M_LOCK == 13 && M_UNLOCK == 14 && M_VERSION_CONTROL == 15 && M_CHECKOUT == 16);
static_assert(M_UNCHECKOUT == 17 && M_CHECKIN == 18 && M_UPDATE == 19 && M_LABEL == 20);
static_assert(M_REPORT == 21 && M_MKWORKSPACE == 22 && M_MKACTIVITY == 23);
static_assert(M_BASELINE_CONTROL == 24 && M_MERGE == 25 && M_INVALID == 26);

extern "C" {

const char* const zeb_action_names[3] = {"none", "view", "commit"};

const char* zeb_action_name(pbp_access_t action) {
  if (action < PBP_NO_ACCESS || action > PBP_COMMIT_ACCESS) return "unknown";
  return zeb_action_names[action];
}

}  // extern "C"

namespace zeb {
namespace {

struct method_row {
  method_verdict verdict;
  pbp_access_t action;
  access_level_t level_with_path;
  access_level_t level_without_path;
};

constexpr method_row refused{method_verdict::refuse, PBP_NO_ACCESS, ACCESS_SOMEWHERE,
                             ACCESS_SOMEWHERE};
constexpr method_row view_path{method_verdict::check, PBP_VIEW_ACCESS, ACCESS_NON_RECURSIVE,
                               ACCESS_SOMEWHERE};
constexpr method_row commit_path{method_verdict::check, PBP_COMMIT_ACCESS, ACCESS_NON_RECURSIVE,
                                 ACCESS_SOMEWHERE};
constexpr method_row commit_tree{method_verdict::check, PBP_COMMIT_ACCESS, ACCESS_RECURSIVE,
                                 ACCESS_SOMEWHERE};
constexpr method_row nothing_needed{method_verdict::check, PBP_NO_ACCESS, ACCESS_SOMEWHERE,
                                    ACCESS_SOMEWHERE};
constexpr method_row commit_somewhere{method_verdict::check, PBP_COMMIT_ACCESS, ACCESS_SOMEWHERE,
                                      ACCESS_SOMEWHERE};
constexpr method_row copy_tree{method_verdict::copy, PBP_COMMIT_ACCESS, ACCESS_RECURSIVE,
                               ACCESS_RECURSIVE};
constexpr method_row move_tree{method_verdict::move, PBP_COMMIT_ACCESS, ACCESS_RECURSIVE,
                               ACCESS_RECURSIVE};

constexpr std::array<method_row, M_INVALID> method_rows = [] {
  std::array<method_row, M_INVALID> rows;
  rows.fill(refused);
  rows[M_GET] = view_path;
  rows[M_PROPFIND] = view_path;
  rows[M_REPORT] = view_path;
  for (int m : {M_PUT, M_PROPPATCH, M_MKCOL, M_LOCK, M_UNLOCK, M_CHECKOUT, M_MKACTIVITY}) {
    rows[m] = commit_path;
  }
  rows[M_POST] = commit_tree;
  rows[M_DELETE] = commit_tree;
  rows[M_OPTIONS] = nothing_needed;
  rows[M_MERGE] = commit_somewhere;
  rows[M_COPY] = copy_tree;
  rows[M_MOVE] = move_tree;
  return rows;
}();

bool is_reading_method(int method_number) {
  return method_number == M_GET || method_number == M_PROPFIND || method_number == M_REPORT;
}

}  // namespace

method_classification classify_method(int method_number, std::optional<int> parent_method_number,
                                      bool path_known) {
  if (method_number < 0 || method_number >= M_INVALID) {
    return {method_verdict::refuse, PBP_NO_ACCESS, ACCESS_SOMEWHERE};
  }
  const method_row& row = method_rows[method_number];
  pbp_access_t action = row.action;
  // A GET subrequest serves its parent: unless the parent only reads, the
  // GET could expose what the parent is about to change, so it needs commit.
  if (method_number == M_GET && parent_method_number && !is_reading_method(*parent_method_number)) {
    action = PBP_COMMIT_ACCESS;
  }
  return {row.verdict, action, path_known ? row.level_with_path : row.level_without_path};
}

}  // namespace zeb
