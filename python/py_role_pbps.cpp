#include "py_role_pbps.h"

#include <apr_strings.h>

#include <algorithm>
#include <climits>

#include "py_text.h"
#include "zeb_authorizer.h"
#include "zeb_pbp_usability.h"

namespace zeb::python {
namespace {

// A copy of a str or bytes object in pool; null with an exception set.
char* make_string_from_ob(PyObject* ob, apr_pool_t* pool, const char* not_string_message) {
  const char* text = text_of(ob, not_string_message);
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
// their own (a child of the roles' pool) that processing destroys.
bool add_role_pbps(PyObject* role_id_ob, PyObject* list_ob, apr_array_header_t* roles) {
  if (list_ob == Py_None) return true;
  if (!PyList_Check(list_ob)) {
    PyErr_SetString(PyExc_TypeError, "Not a list");
    return false;
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
  for (Py_ssize_t i = 0; i < count; ++i) {
    raw_pbps[i] = make_string_from_ob(PyList_GET_ITEM(list_ob, i), raw_pool, "Not a string");
    if (raw_pbps[i] == nullptr) return false;
  }
  // As in the httpd module: a role with nothing usable grants nothing, where
  // the engine would read it as restricting nothing.
  if (!zeb_pbps_have_usable(raw_pbps, static_cast<int>(count), raw_pool)) {
    apr_pool_destroy(raw_pool);
    return true;
  }

  auto role =
      static_cast<role_processed_pbps_t*>(apr_pcalloc(roles->pool, sizeof(role_processed_pbps_t)));
  if (role_id_ob != Py_None) {
    role->role_id = make_string_from_ob(role_id_ob, roles->pool, "not a string");
    if (role->role_id == nullptr) return false;
  }
  role->raw_pbps = raw_pbps;
  role->num_raw_pbps = static_cast<int>(count);
  role->raw_pbps_pool = raw_pool;
  APR_ARRAY_PUSH(roles, role_processed_pbps_t*) = role;
  return true;
}

}  // namespace

apr_array_header_t* make_role_pbps(PyObject* pbps, apr_pool_t* pool) {
  if (pbps == nullptr || pbps == Py_None)
    return apr_array_make(pool, 0, sizeof(role_processed_pbps_t*));

  if (PyDict_Check(pbps)) {
    if (!fits_engine_count(PyDict_GET_SIZE(pbps))) return nullptr;
    auto roles = apr_array_make(pool, static_cast<int>(PyDict_GET_SIZE(pbps)),
                                sizeof(role_processed_pbps_t*));
    Py_ssize_t position = 0;
    PyObject* role_id = nullptr;
    PyObject* list = nullptr;
    // Nothing below runs Python code, so the dict cannot change under us.
    while (PyDict_Next(pbps, &position, &role_id, &list)) {
      if (!add_role_pbps(role_id, list, roles)) return nullptr;
    }
    return roles;
  }

  if (PyList_Check(pbps)) {
    auto roles = apr_array_make(pool, 1, sizeof(role_processed_pbps_t*));
    return add_role_pbps(Py_None, pbps, roles) ? roles : nullptr;
  }

  PyErr_SetString(PyExc_TypeError, "Not a sequence of PBPs or a dictionary mapping roles to PBPs");
  return nullptr;
}

}  // namespace zeb::python
