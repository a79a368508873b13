// The Python module zebauthorizer: the type ZebAuthorizer answers the
// permission engine's questions for the roles it was constructed with.

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <apr_allocator.h>
#include <apr_general.h>
#include <apr_pools.h>
#include <apr_tables.h>
#include <svn_dirent_uri.h>
#include <svn_path.h>

#include <algorithm>
#include <string>

#include "py_role_pbps.h"
#include "py_text.h"
#include "zeb_authorizer.h"

namespace {

// Keeps freed memory for reuse up to this much and returns the rest.
constexpr apr_size_t kApplicationMaxFree = 4194304;

// Parent of every object's pool; lives until the process ends.
apr_pool_t* application_pool = nullptr;

struct ZebAuthorizerObject {
  PyObject ob_base;
  apr_pool_t* object_pool;        // owns everything below; null until __init__ runs
  apr_array_header_t* role_pbps;  // role_processed_pbps_t*; null means no roles
};

bool create_application_pool() {
  if (application_pool != nullptr) return true;
  apr_allocator_t* allocator = nullptr;
  if (apr_initialize() != APR_SUCCESS || apr_allocator_create(&allocator) != APR_SUCCESS) {
    PyErr_SetString(PyExc_ImportError, "zebauthorizer: cannot initialise APR");
    return false;
  }
  apr_allocator_max_free_set(allocator, kApplicationMaxFree);
  if (apr_pool_create_ex(&application_pool, nullptr, nullptr, allocator) != APR_SUCCESS) {
    apr_allocator_destroy(allocator);
    application_pool = nullptr;
    PyErr_NoMemory();
    return false;
  }
  apr_allocator_owner_set(allocator, application_pool);
  return true;
}

// Drops every earlier role, giving the object an empty pool.
bool init_auth_instance(ZebAuthorizerObject* self) {
  self->role_pbps = nullptr;
  if (self->object_pool != nullptr) {
    apr_pool_clear(self->object_pool);
    return true;
  }
  if (apr_pool_create(&self->object_pool, application_pool) != APR_SUCCESS) {
    self->object_pool = nullptr;
    PyErr_NoMemory();
    return false;
  }
  return true;
}

int ZebAuthorizer_init(PyObject* py_self, PyObject* args, PyObject* kwds) {
  auto self = reinterpret_cast<ZebAuthorizerObject*>(py_self);
  static const char* keywords[] = {"pbps", nullptr};
  PyObject* pbps = nullptr;
  const bool parsed = PyArg_ParseTupleAndKeywords(args, kwds, "|O:ZebAuthorizer",
                                                  const_cast<char**>(keywords), &pbps) != 0;
  // Reset even when the arguments are refused: a failed __init__ leaves no
  // roles, never the earlier ones, which a caller narrowing them relies on.
  if (!init_auth_instance(self) || !parsed) return -1;

  apr_array_header_t* roles = zeb::python::make_role_pbps(pbps, self->object_pool);
  if (roles == nullptr) {
    // Never half-built: a failed construction leaves no roles at all.
    apr_pool_clear(self->object_pool);
    return -1;
  }
  self->role_pbps = roles;
  return 0;
}

void ZebAuthorizer_dealloc(PyObject* py_self) {
  auto self = reinterpret_cast<ZebAuthorizerObject*>(py_self);
  if (self->object_pool != nullptr) apr_pool_destroy(self->object_pool);
  Py_TYPE(py_self)->tp_free(py_self);
}

role_processed_pbps_t* processed_role(const ZebAuthorizerObject* self, int index) {
  role_processed_pbps_t* role = APR_ARRAY_IDX(self->role_pbps, index, role_processed_pbps_t*);
  // The role array's pool, so the processed lists live as long as the object.
  ensure_processed_pbps(role, self->role_pbps->pool);
  return role;
}

int role_count(const ZebAuthorizerObject* self) {
  return self->role_pbps == nullptr ? 0 : self->role_pbps->nelts;
}

// "O&" converter: a str or bytes path, as text borrowed from the argument.
int path_converter(PyObject* ob, void* out) {
  const char* text =
      zeb::python::text_of(ob, "has_non_recursive_access() argument 1 must be str or bytes");
  if (text == nullptr) return 0;
  *static_cast<const char**>(out) = text;
  return 1;
}

// The engine judges a path by string ancestry, so it is asked about the
// canonical form, the one the server hands it for the same request ("/a/",
// "//a" and "/./a" all mean "/a"). A path still relative, or holding a ".."
// component, would be judged by the rules of another path: refused.
bool canonical_repository_path(const char* path, apr_pool_t* scratch_pool, std::string& canonical) {
  canonical = svn_dirent_canonicalize(path, scratch_pool);
  return canonical[0] == '/' && !svn_path_is_backpath_present(canonical.c_str());
}

PyObject* ZebAuthorizer_has_non_recursive_access(PyObject* py_self, PyObject* args) {
  auto self = reinterpret_cast<ZebAuthorizerObject*>(py_self);
  const char* path = nullptr;
  int required_access = 0;
  if (!PyArg_ParseTuple(args, "O&i:has_non_recursive_access", path_converter, &path,
                        &required_access))
    return nullptr;
  // Outside the known levels no PBP could grant, yet an uncovered path would
  // still answer yes.
  if (required_access < PBP_NO_ACCESS || required_access > PBP_COMMIT_ACCESS) {
    PyErr_SetString(PyExc_ValueError, "required_access must be 0, 1 or 2");
    return nullptr;
  }

  // An object that never ran __init__ has no pool of its own.
  apr_pool_t* parent = self->object_pool != nullptr ? self->object_pool : application_pool;
  apr_pool_t* scratch_pool = nullptr;
  if (apr_pool_create(&scratch_pool, parent) != APR_SUCCESS) return PyErr_NoMemory();
  // Outside the scratch pool, which is cleared before each role.
  std::string canonical;
  if (!canonical_repository_path(path, scratch_pool, canonical)) {
    apr_pool_destroy(scratch_pool);
    PyErr_Format(PyExc_ValueError, "Not an absolute repository path without '..': '%s'", path);
    return nullptr;
  }
  int answer = 0;
  for (int i = 0; i < role_count(self) && answer == 0; ++i) {
    apr_pool_clear(scratch_pool);
    role_processed_pbps_t* role = processed_role(self, i);
    answer = has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                      static_cast<pbp_access_t>(required_access), canonical.c_str(),
                                      scratch_pool);
  }
  apr_pool_destroy(scratch_pool);
  return PyLong_FromLong(answer);
}

PyObject* ZebAuthorizer_determine_global_access(PyObject* py_self, PyObject*) {
  auto self = reinterpret_cast<ZebAuthorizerObject*>(py_self);
  int access = PBP_NO_ACCESS;
  for (int i = 0; i < role_count(self) && access < PBP_COMMIT_ACCESS; ++i)
    access = std::max<int>(access, processed_role(self, i)->role_global_access);
  return PyLong_FromLong(access);
}

// The first lines of each text are the signature help() and inspect show.
PyMethodDef ZebAuthorizer_methods[] = {
    {"determine_global_access", ZebAuthorizer_determine_global_access, METH_NOARGS,
     "determine_global_access($self, /)\n--\n\n"
     "Return the highest access any role grants on the whole repository:\n"
     "COMMIT (2), VIEW (1) or NONE (0); NONE without roles."},
    {"has_non_recursive_access", ZebAuthorizer_has_non_recursive_access, METH_VARARGS,
     "has_non_recursive_access($self, path, required_access, /)\n--\n\n"
     "Return 1 when some role grants required_access (NONE, VIEW or COMMIT)\n"
     "on the repository path itself, else 0; what lies below it is not\n"
     "judged. path is an absolute repository path (str or bytes), taken in\n"
     "its canonical form ('/a/' is '/a'); a relative path or one holding\n"
     "'..' raises ValueError, as does a level other than 0, 1 or 2."},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject ZebAuthorizerType = [] {
  PyTypeObject type{};
  type.ob_base = PyVarObject{PyObject_HEAD_INIT(nullptr) 0};
  type.tp_name = "zebauthorizer.ZebAuthorizer";
  type.tp_basicsize = sizeof(ZebAuthorizerObject);
  type.tp_dealloc = ZebAuthorizer_dealloc;
  // Neither subclassable nor garbage collected: the object holds no Python
  // references, only its pool.
  type.tp_flags = Py_TPFLAGS_DEFAULT;
  type.tp_doc =
      "ZebAuthorizer(pbps=None)\n--\n\n"
      "The path permissions of one user's roles in one repository.\n\n"
      "pbps is a list of PBP strings (one role) or a dict mapping each role\n"
      "id (str or bytes) to its list (None leaves the role out); None or\n"
      "nothing means no roles, which grant nothing. A PBP is an action, ':'\n"
      "and a path pattern: 'view:/', 'commit:/trunk', 'none:/trunk/secret',\n"
      "'view:/*/docs'. A string that cannot be used is named in a\n"
      "UserWarning; a role with no usable string grants nothing. Entries of\n"
      "the wrong type raise TypeError naming the entry ('pbps[1]: not a\n"
      "string'). Calling __init__ again replaces all roles.";
  type.tp_methods = ZebAuthorizer_methods;
  type.tp_init = ZebAuthorizer_init;
  return type;
}();

PyModuleDef zebauthorizer_module = {
    PyModuleDef_HEAD_INIT,
    "zebauthorizer",
    "The path permission engine of mod_authnz_zeb.\n\n"
    "ZebAuthorizer answers, for the path-based permissions (PBPs) of a\n"
    "user's roles, the questions the httpd module asks: the user's global\n"
    "access, and whether the user may view or commit a repository path.\n"
    "Access levels are the constants NONE (0), VIEW (1) and COMMIT (2).",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_zebauthorizer(void) {
  if (!create_application_pool()) return nullptr;
  ZebAuthorizerType.tp_new = PyType_GenericNew;
  if (PyType_Ready(&ZebAuthorizerType) < 0) return nullptr;

  PyObject* module = PyModule_Create(&zebauthorizer_module);
  if (module == nullptr) return nullptr;
  if (PyModule_AddType(module, &ZebAuthorizerType) < 0 ||
      PyModule_AddIntConstant(module, "NONE", PBP_NO_ACCESS) < 0 ||
      PyModule_AddIntConstant(module, "VIEW", PBP_VIEW_ACCESS) < 0 ||
      PyModule_AddIntConstant(module, "COMMIT", PBP_COMMIT_ACCESS) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
