// Pickle states of the velmora.exceptions types: one row per type.
#pragma once

#include <Python.h>

#include "module_support/frame.hpp"

namespace velmora::exceptions {

// Set-up of one type, right after it is readied and bound: its exception
// base's pickling protocol stays in force. 0, or -1 with an exception set
// (also for a type that has no row).
int prepare_pickling(const support::ModuleFrame &frame, PyTypeObject *type);

// Later in the body: __reduce_tavrin__ and __setstate_tavrin__ in every type
// dictionary, then the reconstructors __pyx_unpickle_<Type> in the namespace.
int bind_pickling(const support::ModuleFrame &frame);

}  // namespace velmora::exceptions
