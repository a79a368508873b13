#include "status_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "status_counting.h"
#include "status_segment.h"

namespace {

using namespace zeb::status;

bool alive(pid_t) {
  return true;
}
bool gone(pid_t) {
  return false;
}

// A segment of three slots in ordinary memory.
struct test_segment {
  std::vector<std::uint64_t> memory =
      std::vector<std::uint64_t>(segment_bytes(3) / sizeof(std::uint64_t) + 1);
  segment* seg = reinterpret_cast<segment*>(memory.data());
  test_segment() { reset_segment(seg, 3, 1700000000); }
  ~test_segment() { use_slot(nullptr, nullptr); }
};

TEST(status_page, a_query_names_one_format_or_none) {
  struct row {
    const char* query;
    std::optional<page_format> format;
  } rows[] = {{nullptr, page_format::html},
              {"", page_format::html},
              {"format=prometheus", page_format::prometheus},
              {"auto", page_format::key_value},
              {"format=json", std::nullopt},
              {"auto&refresh=5", std::nullopt},
              {"Auto", std::nullopt}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.query ? r.query : "(null)");
    EXPECT_EQ(format_of_query(r.query), r.format);
  }
}

// Two processes count into their own slots; each format shows the sums.
TEST(status_page, every_format_shows_the_sums_of_all_slots) {
  test_segment t;
  add_servers(t.seg, {"127.0.0.1:11211", "odd \"name\"\\x"});
  use_slot(t.seg, claim_slot(t.seg, 101, alive));
  zeb::count_service_call(operation::is_valid_user, true, 3000);
  zeb::count_memcached("127.0.0.1:11211", cache_result::hit);
  zeb::count_memcached("odd \"name\"\\x", cache_result::skipped);
  zeb::count_memcached("not configured", cache_result::hit);
  zeb::count_context(1, 500);
  use_slot(t.seg, claim_slot(t.seg, 102, alive));
  zeb::count_service_call(operation::is_valid_user, false, 30000);
  zeb::count_role_load(source::memcached, 20000000);
  zeb::count_decision(false);
  zeb::count_recursive_walk(7);
  zeb::count_context(1, 500);
  const figures f = read_figures(t.seg);

  struct row {
    page_format format;
    std::vector<std::string> lines;
  } rows[] = {
      {page_format::prometheus,
       {"# HELP authnz_zeb_service_calls_total ScmListener calls by operation and outcome",
        "# TYPE authnz_zeb_service_calls_total counter",
        "authnz_zeb_service_calls_total{operation=\"isValidUser\",outcome=\"answered\"} 1",
        "authnz_zeb_service_calls_total{operation=\"isValidUser\",outcome=\"failed\"} 1",
        "authnz_zeb_service_calls_total{operation=\"getRolePaths\",outcome=\"failed\"} 0",
        "# TYPE authnz_zeb_service_call_seconds histogram",
        "authnz_zeb_service_call_seconds_bucket{operation=\"isValidUser\",le=\"0.005\"} 1",
        "authnz_zeb_service_call_seconds_bucket{operation=\"isValidUser\",le=\"0.025\"} 1",
        "authnz_zeb_service_call_seconds_bucket{operation=\"isValidUser\",le=\"0.05\"} 2",
        "authnz_zeb_service_call_seconds_bucket{operation=\"isValidUser\",le=\"+Inf\"} 2",
        "authnz_zeb_service_call_seconds_sum{operation=\"isValidUser\"} 0.033000",
        "authnz_zeb_service_call_seconds_count{operation=\"isValidUser\"} 2",
        "authnz_zeb_role_load_seconds_bucket{source=\"memcached\",le=\"1\"} 0",
        "authnz_zeb_role_load_seconds_bucket{source=\"memcached\",le=\"+Inf\"} 1",
        "authnz_zeb_role_load_seconds_sum{source=\"memcached\"} 20.000000",
        "authnz_zeb_memcached_operations_total{server=\"127.0.0.1:11211\",result=\"hit\"} 1",
        "authnz_zeb_memcached_operations_total{server=\"odd "
        "\\\"name\\\"\\\\x\",result=\"skipped\"} 1",
        "authnz_zeb_decisions_total{result=\"refused\"} 1",
        "authnz_zeb_recursive_walk_nodes_total 7",
        "authnz_zeb_connection_contexts 2",
        "authnz_zeb_connection_context_bytes 1000",
        "authnz_zeb_processes 2",
        "# TYPE authnz_zeb_start_time_seconds gauge",
        "authnz_zeb_start_time_seconds 1700000000"}},
      {page_format::key_value,
       {"ServiceCallsIsValidUserAnswered: 1", "ServiceCallSecondsIsValidUserCount: 2",
        "ServiceCallSecondsIsValidUserSum: 0.033000", "CredentialsMemcachedAccepted: 0",
        "RoleLoadsMemcached: 1", "MemcachedOperations127.0.0.1:11211Hit: 1",
        "MemcachedOperationsodd_\"name\"\\xSkipped: 1", "DecisionsRefused: 1", "RecursiveWalks: 1",
        "RecursiveWalkNodes: 7", "Processes: 2"}},
      {page_format::html,
       {"<td>odd &quot;name&quot;\\x</td><td>skipped</td><td>1</td></tr>",
        "<td>isValidUser</td><td>2</td><td>0.033000</td></tr>"}},
  };
  for (const row& r : rows) {
    const std::string page = render_page(f, r.format);
    for (const std::string& line : r.lines) {
      EXPECT_NE(page.find(line + "\n"), std::string::npos) << line << "\nin:\n" << page;
    }
  }
  EXPECT_EQ(render_page(f, page_format::prometheus).find("not configured"), std::string::npos);
  EXPECT_NE(render_summary(f, true).find("AuthnzZEBServiceCallsFailed: 1\n"), std::string::npos);
}

TEST(status_page, a_slot_of_a_gone_process_is_taken_over_with_its_counters) {
  test_segment t;
  slot* first = claim_slot(t.seg, 101, alive);
  use_slot(t.seg, first);
  zeb::count_decision(true);
  zeb::count_context(1, 500);
  struct row {
    pid_t pid;
    bool (*is_alive)(pid_t);
    slot* expected;
  } rows[] = {
      {102, alive, first + 1}, {103, alive, first + 2},
      {104, gone, first},       // takes over 101's slot
      {105, alive, first},      // none free: shares slot 105 % 3
      {103, alive, first + 2},  // its pid names a slot an earlier process left
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.pid);
    EXPECT_EQ(claim_slot(t.seg, r.pid, r.is_alive), r.expected);
  }
  EXPECT_EQ(first->owner, 104u);
  EXPECT_EQ(first->decisions[0], 1u);
  EXPECT_EQ(first->contexts, 0);
  reset_segment(t.seg, 3, 1);
  EXPECT_EQ(sum_slots(t.seg).decisions[0], 0u);
  EXPECT_EQ(sum_slots(t.seg).owner, 0u);
}

}  // namespace
