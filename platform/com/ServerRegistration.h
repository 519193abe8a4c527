// Registration of an in-process server module through its own exports, as the register
// tool does and the program does for its wireless camera module on a first start.
#pragma once

#include <string>

#include "platform/com/Com.h"

namespace com {

// Loads the module at `path`, calls its DllRegisterServer (DllUnregisterServer with
// `unregister`) and unloads it. On failure `failure` says what went wrong, for a person.
HRESULT CallServerRegistration(const std::string& path, bool unregister, std::string& failure);

}  // namespace com
