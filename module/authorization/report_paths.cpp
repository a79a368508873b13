#include "report_paths.h"

#include <apr_strings.h>
#include <apr_xml.h>

#include <cstring>

namespace {

constexpr const char* kSvnNamespace = "svn:";

struct report_name {
  const char* element;
  report_kind kind;
};

constexpr report_name kReports[] = {
    {"file-revs-report", report_kind::file_revs},
    {"get-deleted-rev-report", report_kind::deleted_rev},
    {"mergeinfo-report", report_kind::mergeinfo},
    {"inherited-props-report", report_kind::inherited_props},
    {"update-report", report_kind::update},
};

int svn_namespace(const apr_xml_doc* doc) {
  for (int i = 0; i < doc->namespaces->nelts; ++i) {
    if (std::strcmp(APR_XML_GET_URI_ITEM(doc->namespaces, i), kSvnNamespace) == 0) return i;
  }
  return -1;
}

const char* cdata(const apr_xml_elem* elem, apr_pool_t* pool) {
  const char* text = "";
  for (const apr_text* t = elem->first_cdata.first; t != nullptr; t = t->next) {
    text = apr_pstrcat(pool, text, t->text, nullptr);
  }
  return text;
}

// The elements of a report whose text is a path that the report asks about.
bool names_path(report_kind kind, const char* element) {
  if (kind == report_kind::update) {
    return std::strcmp(element, "entry") == 0 || std::strcmp(element, "missing") == 0 ||
           std::strcmp(element, "update-target") == 0;
  }
  return std::strcmp(element, "path") == 0;
}

// The text of an element as mod_dav_svn escapes it; false for an entity it
// does not write.
bool unescape(std::string_view text, std::string* out) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  out->clear();
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '&') {
      out->push_back(text[i++]);
      continue;
    }
    bool known = false;
    for (const auto& [entity, c] : kEntities) {
      if (text.substr(i, entity.size()) == entity) {
        out->push_back(c);
        i += entity.size();
        known = true;
        break;
      }
    }
    if (!known) return false;
  }
  return true;
}

}  // namespace

std::string keep_mergeinfo_items(std::string_view text,
                                 const std::function<bool(const std::string& path)>& keep) {
  static constexpr std::string_view kOpen = "<S:mergeinfo-item>";
  static constexpr std::string_view kClose = "</S:mergeinfo-item>";
  static constexpr std::string_view kPathOpen = "<S:mergeinfo-path>";
  static constexpr std::string_view kPathClose = "</S:mergeinfo-path>";
  std::string kept;
  std::string path;
  std::size_t pos = 0;
  for (std::size_t start; (start = text.find(kOpen, pos)) != std::string_view::npos;) {
    kept.append(text.substr(pos, start - pos));
    const std::size_t end = text.find(kClose, start);
    if (end == std::string_view::npos) return kept;
    const std::string_view item = text.substr(start, end + kClose.size() - start);
    pos = end + kClose.size();
    const std::size_t from = item.find(kPathOpen);
    const std::size_t to = item.find(kPathClose);
    if (from == std::string_view::npos || to == std::string_view::npos || to < from) continue;
    const std::size_t first = from + kPathOpen.size();
    if (unescape(item.substr(first, to - first), &path) && keep(path)) kept.append(item);
  }
  kept.append(text.substr(pos));
  return kept;
}

bool read_report_body(report_body_t* out, const char* data, apr_size_t length, apr_pool_t* pool) {
  out->kind = report_kind::other;
  out->paths = apr_array_make(pool, 2, sizeof(const char*));
  out->descendants = false;
  apr_xml_parser* parser = apr_xml_parser_create(pool);
  apr_xml_doc* doc = nullptr;
  if (apr_xml_parser_feed(parser, data, length) != APR_SUCCESS ||
      apr_xml_parser_done(parser, &doc) != APR_SUCCESS || doc == nullptr || doc->root == nullptr) {
    return false;
  }
  const int ns = svn_namespace(doc);
  if (ns < 0 || doc->root->ns != ns) return true;
  for (const report_name& report : kReports) {
    if (std::strcmp(doc->root->name, report.element) == 0) out->kind = report.kind;
  }
  if (out->kind == report_kind::other) return true;
  for (const apr_xml_elem* child = doc->root->first_child; child != nullptr; child = child->next) {
    if (child->ns != ns) continue;
    if (names_path(out->kind, child->name)) {
      APR_ARRAY_PUSH(out->paths, const char*) = cdata(child, pool);
    } else if (out->kind == report_kind::mergeinfo &&
               std::strcmp(child->name, "include-descendants") == 0) {
      // mod_dav_svn reads "yes" with white space around it too; asked at all
      // counts here.
      out->descendants = true;
    }
  }
  return true;
}

bool is_plain_relpath(const char* path) {
  if (*path == '\0') return true;
  for (const char* start = path;;) {
    const char* end = std::strchr(start, '/');
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - start) : std::strlen(start);
    if (length == 0 || (length == 1 && start[0] == '.') ||
        (length == 2 && start[0] == '.' && start[1] == '.')) {
      return false;
    }
    if (end == nullptr) return true;
    start = end + 1;
  }
}

const char* join_report_path(const char* base, const char* path, apr_pool_t* pool) {
  while (path[0] == '/') ++path;
  if (path[0] == '\0') return base;
  const std::size_t n = std::strlen(base);
  return apr_pstrcat(pool, base, n > 0 && base[n - 1] == '/' ? "" : "/", path, nullptr);
}
