#include "workload.h"

#include <cstdio>
#include <functional>
#include <random>
#include <set>

namespace zeb_bench {
namespace {

// std::mt19937 is fully specified by the standard, unlike the standard
// distributions, so draws made with it alone are the same everywhere.
class draw {
 public:
  explicit draw(std::uint32_t seed) : engine_(seed) {}

  int below(int n) { return static_cast<int>(engine_() % static_cast<std::uint32_t>(n)); }
  bool percent(int p) { return below(100) < p; }

  std::string numbered(const char* prefix, int n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%d", prefix, below(n));
    return buf;
  }
  std::string project() {
    char buf[8];
    std::snprintf(buf, sizeof buf, "p%02d", below(kProjects));
    return buf;
  }

  static constexpr int kProjects = 40;

 private:
  std::mt19937 engine_;
};

using components = std::vector<std::string>;

std::string join(const components& parts, std::size_t count) {
  if (count == 0) return "/";
  std::string path;
  for (std::size_t i = 0; i < count && i < parts.size(); ++i) path += "/" + parts[i];
  return path;
}

// A full-depth node of the repository tree:
//   /projects/pNN/{trunk,branches/bK,tags/tK}/{src,doc,build,test,secret}/modM[/pkgK]/fileN.ext
//   /shared/libN/{src,doc}/fileN.c
components random_node(draw& d) {
  if (d.percent(10)) {
    return {"shared", d.numbered("lib", 5), d.percent(70) ? "src" : "doc",
            d.numbered("file", 20) + ".c"};
  }
  components parts{"projects", d.project()};
  int line = d.below(10);
  if (line < 4) {
    parts.push_back("trunk");
  } else if (line < 7) {
    parts.push_back("branches");
    parts.push_back(d.numbered("b", 6));
  } else {
    parts.push_back("tags");
    parts.push_back(d.numbered("t", 6));
  }
  static const char* const areas[] = {"src", "src", "src", "doc", "build", "test", "secret"};
  parts.push_back(areas[d.below(std::size(areas))]);
  parts.push_back(d.numbered("mod", 10));
  if (d.percent(50)) parts.push_back(d.numbered("pkg", 4));
  static const char* const extensions[] = {".c", ".c", ".h", ".txt", ".key"};
  parts.push_back(d.numbered("file", 30) + extensions[d.below(std::size(extensions))]);
  return parts;
}

const char* random_action(draw& d, int none_percent) {
  int r = d.below(100);
  if (r < none_percent) return "none:";
  return r < none_percent + (100 - none_percent) / 2 ? "view:" : "commit:";
}

std::vector<std::string> absolute_pbps(draw& d, int count) {
  std::vector<std::string> pbps;
  std::set<std::string> paths;
  auto add = [&](const char* action, const std::string& path, bool subtree_form) {
    if (!paths.insert(path).second) return;
    // "/a/**" is the absolute PBP "/a" written as the server often sends it.
    std::string written = subtree_form ? (path == "/" ? "/**" : path + "/**") : path;
    pbps.push_back(action + written);
  };
  while (static_cast<int>(pbps.size()) < count) {
    components node = random_node(d);
    std::size_t depth = 2 + d.below(5);
    add(random_action(d, 20), join(node, depth), d.percent(10));
  }
  return pbps;
}

std::vector<std::string> wildcard_pbps(draw& d, int count) {
  using maker = std::function<std::string(draw&)>;
  static const maker patterns[] = {
      [](draw&) { return std::string("/projects/*/trunk/secret"); },
      [](draw& d) { return "/projects/p" + std::to_string(d.below(4)) + "*/branches/**"; },
      [](draw&) { return std::string("/**/*.key"); },
      [](draw& d) { return "/projects/" + d.project() + "/**/build"; },
      [](draw&) { return std::string("/projects/*/tags/**"); },
      [](draw& d) { return "/projects/" + d.project() + "/branches/*/src"; },
      [](draw&) { return std::string("/**/doc"); },
      [](draw& d) { return "/projects/*/trunk/src/" + d.numbered("mod", 10) + "*"; },
      [](draw& d) { return "/projects/" + d.project() + "/tags/t*/build"; },
      [](draw&) { return std::string("/**/test/**/*.txt"); },
      [](draw& d) { return "/projects/" + d.project() + "/*/secret/**"; },
      [](draw& d) { return "/shared/*/" + d.numbered("file", 30) + "*"; },
  };
  std::vector<std::string> pbps;
  std::set<std::string> seen;
  for (std::size_t i = 0; static_cast<int>(pbps.size()) < count; ++i) {
    std::string pattern = patterns[i % std::size(patterns)](d);
    if (seen.insert(pattern).second) pbps.push_back(random_action(d, 35) + pattern);
  }
  return pbps;
}

std::string path_of(const std::string& pbp) {
  std::string path = pbp.substr(pbp.find(':') + 1);
  if (path.ends_with("/**")) path.resize(path.size() - 3);
  return path.empty() ? "/" : path;
}

// Near misses: names that share a prefix with real tree nodes but are not
// nodes of the tree, and areas no specific PBP covers.
std::string odd_path(draw& d) {
  static const char* const paths[] = {
      "/projects/p99/trunk",
      "/projects/p1/branchesX/b1",
      "/projects/p03x/trunk/src",
      "/vendor/zlib/src/inflate.c",
      "/projects",
      "/shared",
      "/projects/p07/trunk/secrets",
      "/projects/p12/tags/t1/builds",
      "/README.txt",
      "/projects/p05/trunk/src/mod3/file.key.bak",
  };
  return paths[d.below(std::size(paths))];
}

std::vector<decision_request> requests(draw& d, const std::vector<std::string>& absolute,
                                       int count) {
  std::vector<decision_request> out;
  out.reserve(count);
  for (int i = 0; i < count; ++i) {
    std::string path;
    int kind = d.below(100);
    if (kind < 40) {
      path = join(random_node(d), 99);  // deep
    } else if (kind < 55) {
      path = join(random_node(d), 1 + d.below(3));  // shallow
    } else if (kind < 90 && !absolute.empty()) {
      // On or just below a path that a PBP names.
      path = path_of(absolute[d.below(absolute.size())]);
      for (int extra = d.below(3); extra > 0; --extra) {
        if (path != "/") path += '/';
        path += d.numbered("x", 5);
      }
    } else {
      path = odd_path(d);
    }
    out.push_back({path, d.percent(50) ? PBP_VIEW_ACCESS : PBP_COMMIT_ACCESS});
  }
  return out;
}

}  // namespace

std::vector<decision_request> requests_at_depth(std::uint32_t seed, int depth, int count) {
  draw d(seed);
  std::vector<decision_request> out;
  out.reserve(count);
  for (int i = 0; i < count; ++i) {
    components node = random_node(d);
    // The file name would end the path; deeper paths continue with folders.
    if (static_cast<int>(node.size()) < depth) node.pop_back();
    while (static_cast<int>(node.size()) < depth) node.push_back(d.numbered("dir", 8));
    out.push_back({join(node, depth), d.percent(50) ? PBP_VIEW_ACCESS : PBP_COMMIT_ACCESS});
  }
  return out;
}

std::vector<std::string> workload::all_pbps() const {
  std::vector<std::string> all = absolute_pbps;
  all.insert(all.end(), wildcard_pbps.begin(), wildcard_pbps.end());
  return all;
}

workload make_workload(std::uint32_t seed, const workload_shape& shape) {
  draw d(seed);
  workload w;
  w.absolute_pbps = absolute_pbps(d, shape.absolute_pbps);
  w.wildcard_pbps = wildcard_pbps(d, shape.wildcard_pbps);
  w.requests = requests(d, w.absolute_pbps, shape.requests);
  return w;
}

}  // namespace zeb_bench
