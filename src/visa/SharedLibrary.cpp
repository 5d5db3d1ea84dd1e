#include "visa/SharedLibrary.h"

#include "visa/Error.h"

#include <cstdlib>
#include <dlfcn.h>

namespace visa {

std::shared_ptr<SharedLibrary> SharedLibrary::openFirst(const std::vector<std::string>& candidates,
                                                        const std::vector<std::string>& requiredSymbols,
                                                        std::vector<std::string>& tried)
{
    for (const auto& candidate : candidates) {
        void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            tried.push_back(candidate + ": " + (why ? why : "cannot be loaded"));
            continue;
        }
        std::string missing;
        for (const auto& name : requiredSymbols)
            if (!::dlsym(handle, name.c_str()))
                missing += (missing.empty() ? "" : ", ") + name;
        if (!missing.empty()) {
            ::dlclose(handle);
            tried.push_back(candidate + ": lacks " + missing);
            continue;
        }
        return std::shared_ptr<SharedLibrary>(new SharedLibrary(handle, candidate));
    }
    return nullptr;
}

SharedLibrary::~SharedLibrary()
{
    ::dlclose(m_handle);
}

void* SharedLibrary::symbol(const char* name) const
{
    void* address = ::dlsym(m_handle, name);
    if (!address)
        throw Error(m_path + " does not export " + name);
    return address;
}

std::vector<std::string> libraryCandidates(const char* environmentVariable, std::vector<std::string> defaults)
{
    const char* chosen = std::getenv(environmentVariable);
    if (chosen && *chosen)
        return {chosen};
    return defaults;
}

} // namespace visa
