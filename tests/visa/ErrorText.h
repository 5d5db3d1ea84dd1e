#pragma once

#include "visa/Error.h"

#include <functional>
#include <string>

namespace visa::testing {

// The description of the visa::Error an action throws, or "(no error)".
inline std::string errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const visa::Error& error) {
        return error.what();
    }
    return "(no error)";
}

} // namespace visa::testing
