#pragma once

#include "visa/ResourceManager.h"

#include <memory>

namespace visa {

// The environment variable that names one exact VISA library file to load
// instead of trying the usual names.
inline constexpr const char* kVisaLibraryVariable = "VANTREL_VISA_LIBRARY";

// The resource manager of the VISA library installed on this machine (a
// vendor's libvisa), loaded at run time. Throws visa::Error when no usable
// library is installed or its default resource manager cannot be opened.
std::unique_ptr<ResourceManager> createSystemVisaResourceManager();

} // namespace visa
