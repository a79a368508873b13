#include "py_text.h"

#include <string.h>

namespace zeb::python {

const char* text_of(PyObject* ob, const char* not_string_message) {
  const char* text = nullptr;
  Py_ssize_t size = 0;
  if (PyUnicode_Check(ob)) {
    text = PyUnicode_AsUTF8AndSize(ob, &size);
    if (text == nullptr) return nullptr;
  } else if (PyBytes_Check(ob)) {
    text = PyBytes_AS_STRING(ob);
    size = PyBytes_GET_SIZE(ob);
  } else {
    PyErr_SetString(PyExc_TypeError, not_string_message);
    return nullptr;
  }
  if (memchr(text, '\0', static_cast<size_t>(size)) != nullptr) {
    PyErr_SetString(PyExc_ValueError, "embedded null character");
    return nullptr;
  }
  return text;
}

}  // namespace zeb::python
