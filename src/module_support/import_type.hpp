// Imports a type object that native code relies on the layout of, refusing
// one whose instances are smaller than the interpreter headers built against
// declare (a different build of the interpreter or of the module).
#pragma once

#include <Python.h>

namespace velmora::support {

// `module_name`.`class_name`, checked to be a type whose instance size is at
// least `expected_size`; a larger basic size only warns. New reference, or
// nullptr with an exception set.
PyTypeObject *import_type(const char *module_name, const char *class_name,
                          Py_ssize_t expected_size);

}  // namespace velmora::support
