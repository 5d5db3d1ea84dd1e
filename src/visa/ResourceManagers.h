#pragma once

#include "visa/ResourceManager.h"

#include <memory>
#include <string>

namespace visa {

// Creates the resource manager the program asks for by name:
//   "VISA.GlobalRM"     the VISA library installed on this machine;
//   "AgilentRM.SRMCls"  the built-in manager (serial, GPIB via linux-gpib,
//                       LAN sockets), always available.
// Throws visa::Error for a manager that is not available or not known.
std::unique_ptr<ResourceManager> createResourceManager(const std::string& name);

} // namespace visa
