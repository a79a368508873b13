// Keeping the shared segment: zeroing, naming memcached servers, giving
// each process a slot and summing the slots.
#ifndef STATUS_SEGMENT_H
#define STATUS_SEGMENT_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "status_layout.h"

namespace zeb::status {

// Zeroes every figure and forgets every slot's owner.
void reset_segment(segment* seg, std::uint32_t slot_count, std::uint64_t now);

// Adds the names not yet in the segment, while there is room; the index of
// a name never changes, so children that count by it need no lock.
void add_servers(segment* seg, const std::vector<std::string>& names);

// The index of name in the segment, or -1.
int server_index(const segment* seg, std::string_view name);

// A slot for process self: a never-used one, else one whose owner is gone
// (is_alive says so), whose gauges then start again from zero; with none
// left, one that others also use, which the atomics keep correct.
slot* claim_slot(segment* seg, pid_t self, bool (*is_alive)(pid_t));

// The sum of every slot; owner holds the number of slots in use.
slot sum_slots(const segment* seg);

}  // namespace zeb::status

#endif
