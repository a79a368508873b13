#include "role_paths_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "apr_pool_test.h"

namespace {

struct role {
  std::optional<std::string> id;
  std::vector<std::string> pbps;
};

class role_paths_record : public apr_pool_test {
 protected:
  apr_array_header_t* new_roles() { return apr_array_make(pool_, 16, sizeof(zeb_role_t*)); }

  // The stored value for roles, or nullopt when it may not be stored.
  static std::optional<std::string> build_value(const std::vector<role>& roles) {
    serialize_ctx_t* ctx = serialize_init(nullptr, 0);
    for (const role& r : roles) {
      std::vector<const char*> strings;
      for (const std::string& p : r.pbps) strings.push_back(p.c_str());
      serialize_update(r.id ? r.id->c_str() : nullptr, strings.data(),
                       static_cast<int>(strings.size()), ctx);
    }
    std::optional<std::string> value;
    if (serialize_is_storable(ctx)) value.emplace(ctx->buffer, static_cast<size_t>(ctx->size));
    serialize_destroy(ctx);
    return value;
  }

  // The roles read from value, or nullopt when the value is a miss. The bytes
  // are copied into a heap block of exactly their length, so that the
  // sanitizer build catches any read past the end. A view of the value must
  // read the same roles while the block lives; a copy, after it is freed.
  std::optional<std::vector<role>> read_value(const std::string& value) {
    char* block = static_cast<char*>(std::malloc(value.size() ? value.size() : 1));
    std::memcpy(block, value.data(), value.size());
    const auto length = static_cast<int64_t>(value.size());
    apr_array_header_t* roles = new_roles();
    apr_array_header_t* viewed = new_roles();
    const int ok = zeb_role_paths_read_value(block, length, roles, pool_);
    EXPECT_EQ(zeb_role_paths_view_value(block, length, viewed, pool_), ok);
    const std::vector<role> seen = to_roles(viewed);
    std::free(block);
    if (!ok) {
      EXPECT_EQ(roles->nelts, 0) << "a miss must leave the roles as they were";
      EXPECT_EQ(viewed->nelts, 0) << "a miss must leave the roles as they were";
      return std::nullopt;
    }
    std::vector<role> read = to_roles(roles);
    EXPECT_TRUE(seen == read) << "a view must read what a copy reads";
    return read;
  }

  static std::vector<role> to_roles(const apr_array_header_t* roles) {
    std::vector<role> out;
    for (int i = 0; i < roles->nelts; ++i) {
      const zeb_role_t* r = APR_ARRAY_IDX(roles, i, zeb_role_t*);
      role copy;
      if (r->repoRoleId) copy.id = r->repoRoleId;
      for (int j = 0; j < r->repoPathAndPerm->nelts; ++j) {
        copy.pbps.push_back(APR_ARRAY_IDX(r->repoPathAndPerm, j, const char*));
      }
      out.push_back(copy);
    }
    return out;
  }
};

bool operator==(const role& a, const role& b) {
  return a.id == b.id && a.pbps == b.pbps;
}

std::string count_bytes(int64_t n) {
  return std::string(reinterpret_cast<const char*>(&n), 8);
}

// A record assembled by hand from the layout, to compare against the writer
// and to feed the reader values the writer would never produce.
std::string raw_record(const std::string& id_field, int64_t n, const std::string& strings) {
  std::string id = id_field;
  id.resize(40, '\0');
  return id + count_bytes(n) + strings + std::string(8, '\0');
}

TEST_F(role_paths_record, worked_example_is_63_bytes) {
  const char* pbps[] = {"view:/"};
  int64_t length = -1;
  char* record = serialize_pbp("role0001", pbps, 1, &length);
  ASSERT_NE(record, nullptr);
  const std::string expected = std::string("role0001") + std::string(32, '\0') + count_bytes(1) +
                               std::string("view:/\0", 7) + std::string(8, '\0');
  ASSERT_EQ(expected.size(), 63u);
  EXPECT_EQ(std::string(record, static_cast<size_t>(length)), expected);
  std::free(record);

  EXPECT_EQ(build_value({{"role0001", {"view:/"}}}), expected);
}

TEST_F(role_paths_record, role_without_pbps_is_56_bytes) {
  const std::string expected =
      std::string("NONE") + std::string(36, '\0') + count_bytes(0) + std::string(8, '\0');
  EXPECT_EQ(build_value({{"NONE", {}}}), expected);

  // A missing list and absent strings count as no PBPs.
  const char* absent[] = {nullptr, nullptr};
  const char* const* lists[] = {nullptr, absent};
  for (const char* const* list : lists) {
    int64_t length = -1;
    char* record = serialize_pbp("NONE", list, 2, &length);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::string(record, static_cast<size_t>(length)), expected);
    std::free(record);
  }
}

TEST_F(role_paths_record, records_round_trip_in_order) {
  const std::vector<role> roles = {
      {"developers", {"commit:/trunk", "view:/", "view:/branches/*/doc"}},
      {"NONE", {}},
      {"readers", {"view:/trunk"}},
  };
  const std::optional<std::string> value = build_value(roles);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->size(), 3 * 56u + 14 + 7 + 21 + 12);
  EXPECT_EQ(read_value(*value), roles);
  EXPECT_EQ(read_value(""), std::vector<role>{}) << "an empty value is an answer without roles";
}

TEST_F(role_paths_record, random_roles_round_trip) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> small(0, 6);
  std::uniform_int_distribution<int> printable(' ', '~');
  auto random_string = [&](int max_length) {
    std::string s(std::uniform_int_distribution<int>(0, max_length)(random), ' ');
    for (char& c : s) c = static_cast<char>(printable(random));
    return s;
  };
  for (int round = 0; round < 200; ++round) {
    std::vector<role> roles(small(random));
    for (role& r : roles) {
      r.id = random_string(39);
      for (int i = small(random); i > 0; --i) r.pbps.push_back(random_string(80));
    }
    const std::optional<std::string> value = build_value(roles);
    ASSERT_TRUE(value);
    EXPECT_EQ(read_value(*value), roles) << "round " << round;
  }
}

TEST_F(role_paths_record, every_truncation_is_a_miss) {
  const std::optional<std::string> value =
      build_value({{"a", {"view:/", "commit:/trunk"}}, {"NONE", {}}, {"b", {"view:/x"}}});
  ASSERT_TRUE(value);
  const size_t first_end = 56 + 7 + 14, second_end = first_end + 56;
  for (size_t cut = 0; cut < value->size(); ++cut) {
    const auto roles = read_value(value->substr(0, cut));
    if (cut == 0 || cut == first_end || cut == second_end) {
      // Cutting between records leaves a shorter, well-formed value.
      EXPECT_TRUE(roles) << "cut at " << cut;
    } else {
      EXPECT_FALSE(roles) << "cut at " << cut;
    }
  }
}

TEST_F(role_paths_record, malformed_values_are_misses) {
  const struct {
    const char* name;
    std::string value;
  } cases[] = {
      {"id fills its field", raw_record(std::string(40, 'x'), 0, "")},
      {"count beyond the strings", raw_record("r", 3, std::string("view:/\0", 7))},
      {"string runs into the filler", raw_record("r", 1, "view:/")},
      {"huge count", raw_record("r", INT64_MAX, std::string("view:/\0", 7))},
      {"good record then garbage", raw_record("r", 0, "") + "junk"},
  };
  for (const auto& c : cases) EXPECT_FALSE(read_value(c.value)) << c.name;
}

TEST_F(role_paths_record, non_positive_count_reads_as_record_without_pbps) {
  for (int64_t n : {int64_t{0}, int64_t{-1}, INT64_MIN}) {
    // The bytes after a record of count n <= 0 start the next record.
    const std::string value =
        raw_record("first", n, "") + raw_record("second", 1, "view:/x" + std::string(1, '\0'));
    const auto roles = read_value(value);
    ASSERT_TRUE(roles) << n;
    EXPECT_EQ(*roles, (std::vector<role>{{"first", {}}, {"second", {"view:/x"}}})) << n;
  }
}

TEST_F(role_paths_record, unstorable_ids_withhold_the_value) {
  const struct {
    std::optional<std::string> id;
    bool storable;
  } cases[] = {
      {std::string(39, 'i'), true}, {std::string(40, 'i'), false}, {std::string(200, 'i'), false},
      {std::nullopt, false},        {std::string(), true},
  };
  for (const auto& c : cases) {
    const size_t id_length = c.id ? c.id->size() : 0;
    const std::vector<role> roles = {{"before", {"view:/"}}, {c.id, {"view:/a"}}, {"after", {}}};
    const std::optional<std::string> value = build_value(roles);
    EXPECT_EQ(value.has_value(), c.storable) << id_length;
    if (value) {
      EXPECT_EQ(read_value(*value), roles) << id_length;
    }

    int64_t length = -1;
    char* record = serialize_pbp(c.id ? c.id->c_str() : nullptr, nullptr, 0, &length);
    EXPECT_EQ(record != nullptr, c.storable) << id_length;
    EXPECT_EQ(length, c.storable ? 56 : 0) << id_length;
    std::free(record);
  }
}

TEST_F(role_paths_record, unwritable_role_leaves_the_buffer_as_it_was) {
  const char* pbps[] = {"view:/"};
  serialize_ctx_t* ctx = serialize_update("first", pbps, 1, nullptr);
  ASSERT_NE(ctx, nullptr);
  const std::string before(ctx->buffer, static_cast<size_t>(ctx->size));
  EXPECT_EQ(serialize_update(std::string(40, 'x').c_str(), pbps, 1, ctx), ctx);
  EXPECT_EQ(std::string(ctx->buffer, static_cast<size_t>(ctx->size)), before);
  EXPECT_FALSE(serialize_is_storable(ctx));
  serialize_destroy(ctx);
  serialize_destroy(nullptr);
  EXPECT_FALSE(serialize_is_storable(nullptr));
}

TEST_F(role_paths_record, answer_roles_keep_present_strings_in_order) {
  const char* pbps[] = {"view:/", nullptr, "commit:/trunk"};
  apr_array_header_t* roles = new_roles();
  populate_rolepathslist_pbps("dev", pbps, 3, roles, pool_);
  populate_rolepathslist_pbps(nullptr, nullptr, 0, roles, pool_);
  const std::vector<role> expected = {{"dev", {"view:/", "commit:/trunk"}}, {std::nullopt, {}}};
  EXPECT_EQ(to_roles(roles), expected);
}

}  // namespace
