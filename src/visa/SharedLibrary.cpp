#include "visa/SharedLibrary.h"

#include "visa/Error.h"

#include <cstdlib>
#include <dlfcn.h>

namespace visa {

namespace {

// The reason of the last failed dl call, and glibc's copy of it freed: a
// second dlerror() frees it. Left alone, the copy stays with the thread
// until the thread ends, and LeakSanitizer, checking while an I/O thread
// ends with the program, now and then reports it as leaked.
std::string takeDlError()
{
    const char* why = ::dlerror();
    std::string text = why ? why : "";
    ::dlerror();
    return text;
}

} // namespace

std::shared_ptr<SharedLibrary> SharedLibrary::openFirst(const std::vector<std::string>& candidates,
                                                        const std::vector<std::string>& requiredSymbols,
                                                        std::vector<std::string>& tried)
{
    for (const auto& candidate : candidates) {
        void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const std::string why = takeDlError();
            tried.push_back(candidate + ": " + (why.empty() ? "cannot be loaded" : why));
            continue;
        }
        std::string missing;
        for (const auto& name : requiredSymbols)
            if (!::dlsym(handle, name.c_str())) {
                missing += (missing.empty() ? "" : ", ") + name;
                takeDlError();
            }
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
    if (!address) {
        takeDlError();
        throw Error(m_path + " does not export " + name);
    }
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
