// The frame of velmora.cookies (module.cpp). `frame.lookup(name)` finds
// module-level names at call time: the namespace first, then the builtins.
#pragma once

#include "module_support/frame.hpp"

namespace velmora::cookies {

extern support::ModuleFrame frame;

}  // namespace velmora::cookies
