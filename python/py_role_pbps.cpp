#include "py_role_pbps.h"

#include <apr_strings.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "py_text.h"
#include "zeb_authorizer.h"
#include "zeb_pbp_usability.h"

namespace zeb::python {
namespace {

// A string that cannot be used, named as the httpd module logs it.
struct UnusablePbp {
  std::string role_id;
  std::string pbp;
  zeb_pbp_verdict_t verdict;
};
using UnusablePbps = std::vector<UnusablePbp>;

// A copy of a str or bytes object in pool; null with an exception set. Any
// other type is refused with a TypeError naming where the object was found.
char* make_string_from_ob(PyObject* ob, apr_pool_t* pool, const std::function<void()>& refuse) {
  if (!PyUnicode_Check(ob) && !PyBytes_Check(ob)) {
    refuse();
    return nullptr;
  }
  const char* text = text_of(ob, "not a string");
  return text == nullptr ? nullptr : apr_pstrdup(pool, text);
}

// The engine counts roles and PBPs in an int. A count that wrapped would
// read as a role without PBPs, and such a role allows everything.
bool fits_engine_count(Py_ssize_t count) {
  if (count <= INT_MAX) return true;
  PyErr_SetString(PyExc_OverflowError, "Too many entries");
  return false;
}

// Appends one raw role to roles. The strings and their array live in a pool of
// their own (a child of the roles' pool) that processing destroys. where is
// how messages name the list ("pbps" or "pbps['r1']"); strings that cannot be
// used are added to unusable.
bool add_role_pbps(PyObject* role_id_ob, PyObject* list_ob, const char* where,
                   apr_array_header_t* roles, UnusablePbps& unusable) {
  if (list_ob == Py_None) return true;
  if (!PyList_Check(list_ob)) {
    PyErr_Format(PyExc_TypeError, "%s: not a list", where);
    return false;
  }
  // The id is checked before the strings are screened, so a bad id is refused
  // whether or not the role would be kept.
  const char* role_id = nullptr;
  if (role_id_ob != Py_None) {
    role_id = make_string_from_ob(role_id_ob, roles->pool, [role_id_ob] {
      PyErr_Format(PyExc_TypeError, "pbps key %R: not a string", role_id_ob);
    });
    if (role_id == nullptr) return false;
  }

  const Py_ssize_t count = PyList_GET_SIZE(list_ob);
  if (!fits_engine_count(count)) return false;
  apr_pool_t* raw_pool = nullptr;
  if (apr_pool_create(&raw_pool, roles->pool) != APR_SUCCESS) {
    PyErr_NoMemory();
    return false;
  }
  // Never null, even for an empty list: a null raw_pbps marks a processed role.
  auto raw_pbps = static_cast<char**>(
      apr_pcalloc(raw_pool, sizeof(char*) * static_cast<size_t>(std::max<Py_ssize_t>(count, 1))));
  bool any_usable = false;
  for (Py_ssize_t i = 0; i < count; ++i) {
    raw_pbps[i] = make_string_from_ob(PyList_GET_ITEM(list_ob, i), raw_pool, [where, i] {
      PyErr_Format(PyExc_TypeError, "%s[%zd]: not a string", where, i);
    });
    if (raw_pbps[i] == nullptr) return false;
    const zeb_pbp_verdict_t verdict = zeb_pbp_verdict(raw_pbps[i], raw_pool);
    if (verdict == ZEB_PBP_USABLE) {
      any_usable = true;
    } else {
      unusable.push_back({role_id != nullptr ? role_id : "(unknown)", raw_pbps[i], verdict});
    }
  }
  // As in the httpd module: a role with nothing usable grants nothing, where
  // the engine would read it as restricting nothing.
  if (!any_usable) {
    apr_pool_destroy(raw_pool);
    return true;
  }

  auto role =
      static_cast<role_processed_pbps_t*>(apr_pcalloc(roles->pool, sizeof(role_processed_pbps_t)));
  role->role_id = const_cast<char*>(role_id);
  role->raw_pbps = raw_pbps;
  role->num_raw_pbps = static_cast<int>(count);
  role->raw_pbps_pool = raw_pool;
  APR_ARRAY_PUSH(roles, role_processed_pbps_t*) = role;
  return true;
}

// Warnings run Python code (filters, showwarning), so they are issued only
// once every role is built. False when a filter turned one into an error.
bool warn_unusable(const UnusablePbps& unusable) {
  for (const UnusablePbp& entry : unusable) {
    if (PyErr_WarnFormat(PyExc_UserWarning, 1, "Role '%s' holds an unusable PBP '%s' (%s)",
                         entry.role_id.c_str(), entry.pbp.c_str(),
                         zeb_pbp_verdict_text(entry.verdict)) < 0)
      return false;
  }
  return true;
}

}  // namespace

apr_array_header_t* make_role_pbps(PyObject* pbps, apr_pool_t* pool) {
  if (pbps == nullptr || pbps == Py_None)
    return apr_array_make(pool, 0, sizeof(role_processed_pbps_t*));

  UnusablePbps unusable;
  apr_array_header_t* roles = nullptr;
  if (PyDict_Check(pbps)) {
    if (!fits_engine_count(PyDict_GET_SIZE(pbps))) return nullptr;
    roles = apr_array_make(pool, static_cast<int>(PyDict_GET_SIZE(pbps)),
                           sizeof(role_processed_pbps_t*));
    // Naming a role runs its key's repr, which could change the dict: the
    // items are walked from a snapshot that holds every key and list.
    PyObject* items = PyDict_Items(pbps);
    if (items == nullptr) return nullptr;
    bool added = true;
    for (Py_ssize_t i = 0; added && i < PyList_GET_SIZE(items); ++i) {
      PyObject* role_id = PyTuple_GET_ITEM(PyList_GET_ITEM(items, i), 0);
      PyObject* where = PyUnicode_FromFormat("pbps[%R]", role_id);
      const char* where_text = where != nullptr ? PyUnicode_AsUTF8(where) : nullptr;
      added = where_text != nullptr &&
              add_role_pbps(role_id, PyTuple_GET_ITEM(PyList_GET_ITEM(items, i), 1), where_text,
                            roles, unusable);
      Py_XDECREF(where);
    }
    Py_DECREF(items);
    if (!added) return nullptr;
  } else if (PyList_Check(pbps)) {
    roles = apr_array_make(pool, 1, sizeof(role_processed_pbps_t*));
    if (!add_role_pbps(Py_None, pbps, "pbps", roles, unusable)) return nullptr;
  } else {
    PyErr_SetString(PyExc_TypeError,
                    "Not a sequence of PBPs or a dictionary mapping roles to PBPs");
    return nullptr;
  }
  return warn_unusable(unusable) ? roles : nullptr;
}

}  // namespace zeb::python
