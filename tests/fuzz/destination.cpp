// Destination headers of COPY and MOVE from the input, and the location test
// that keeps a destination elsewhere from being split as if it were inside.
//
// Input: a Location root on the first line, a Destination header on the
// second. A path the header yields must come from the header and hold no
// query or fragment; a path judged inside the location must begin with its
// root followed by '/' or nothing, and a path so formed must be judged inside.
#include <cstring>
#include <string>
#include <vector>

#include "copy_destination.h"
#include "fuzz_support.h"
#include "location_path.h"

namespace {

using zeb::fuzz::finding;

// The root without the trailing slashes that lies_within ignores.
std::string bare(std::string base) {
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base;
}

// Whether path is base or lies below it, by plain string comparison.
bool below(const std::string& path, const std::string& base) {
  if (base == "/") return path[0] == '/';
  return path.compare(0, base.size(), base) == 0 &&
         (path.size() == base.size() || path[base.size()] == '/');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> lines = zeb::fuzz::lines_of(zeb::fuzz::as_text(data, size), 2);
  if (lines.size() < 2) return 0;
  const std::string base = bare(lines[0]);
  const std::string& header = lines[1];
  zeb::fuzz::input_pool pool;
  const char* path = nullptr;
  const destination_status status = destination_uri_path(header.c_str(), &path, pool.get());
  if (status != destination_status::ok) {
    if (status != destination_status::unparsable && status != destination_status::no_path)
      finding("unknown status");
    return 0;
  }
  if (path == nullptr || path[0] == '\0' || header.find(path) == std::string::npos ||
      std::strpbrk(path, "?#") != nullptr) {
    finding(std::string("path '") + (path ? path : "(null)") + "' of '" + header + "'");
  }
  for (const std::string& candidate : {std::string(path), base, base + "/" + path}) {
    if (lies_within(candidate.c_str(), lines[0].c_str()) != below(candidate, base)) {
      finding("'" + candidate + "' in '" + lines[0] +
              "': " + std::to_string(lies_within(candidate.c_str(), lines[0].c_str())));
    }
  }
  overwrites_destination(header.c_str());
  return 0;
}
