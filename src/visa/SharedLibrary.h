#pragma once

#include <memory>
#include <string>
#include <vector>

namespace visa {

// A shared library opened at run time. The optional system libraries (a
// vendor VISA, linux-gpib) are reached only through this, so the program
// builds and runs on machines that have neither.
class SharedLibrary {
public:
    // Opens the first of the candidates that loads and that exports every one
    // of the required symbols; null when none does. `tried` collects one line
    // per candidate saying why it was passed over.
    static std::shared_ptr<SharedLibrary> openFirst(const std::vector<std::string>& candidates,
                                                    const std::vector<std::string>& requiredSymbols,
                                                    std::vector<std::string>& tried);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    const std::string& path() const { return m_path; }

    // The address of a symbol already checked by openFirst.
    template <typename Function>
    Function* function(const char* name) const
    {
        return reinterpret_cast<Function*>(symbol(name));
    }

private:
    SharedLibrary(void* handle, std::string path) : m_handle(handle), m_path(std::move(path)) {}
    void* symbol(const char* name) const;

    void* m_handle;
    std::string m_path;
};

// The candidates for a library: the path in the environment variable when it
// is set (so a test or a user can name one exact file), else the defaults.
std::vector<std::string> libraryCandidates(const char* environmentVariable, std::vector<std::string> defaults);

} // namespace visa
