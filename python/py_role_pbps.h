// Builds the engine's raw role records from the Python objects handed to the
// ZebAuthorizer constructor. Roles stay raw: the engine processes each one
// the first time a question needs it.
#ifndef PY_ROLE_PBPS_H
#define PY_ROLE_PBPS_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <apr_pools.h>
#include <apr_tables.h>

namespace zeb::python {

// The array of role_processed_pbps_t* that pbps describes, allocated in pool:
// null or None gives no roles, a list one role without id, a dict one role per
// item (role id -> list of PBP strings; an item whose list is None, or whose
// strings hold no usable PBP, is left out: such a role grants nothing). Every
// string that cannot be used is named in a UserWarning. Returns null with a
// Python exception set when pbps is malformed (the message names the entry:
// "pbps[1]: not a string") or a warning filter raised; pool may then hold
// part of the roles.
apr_array_header_t* make_role_pbps(PyObject* pbps, apr_pool_t* pool);

}  // namespace zeb::python

#endif
