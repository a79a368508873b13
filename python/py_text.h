// Reading strings out of Python objects: a str is taken as its UTF-8
// encoding, bytes as they are.
#ifndef PY_TEXT_H
#define PY_TEXT_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zeb::python {

// The text of a str or bytes object, valid while ob lives. Null with an
// exception set otherwise: TypeError(not_string_message) for any other type,
// UnicodeEncodeError for a str that has no UTF-8 form, ValueError for text
// holding a NUL byte (cutting it there could widen a permission).
const char* text_of(PyObject* ob, const char* not_string_message);

}  // namespace zeb::python

#endif
