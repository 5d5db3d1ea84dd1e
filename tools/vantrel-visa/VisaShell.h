#pragma once

#include "visa/Error.h"
#include "visa/ResourceManager.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace tools {

// What the command line asked for, options already taken apart.
struct ShellOptions {
    bool simulate = false;
    std::int32_t baud = 38400;
    std::int32_t timeoutMs = 2000;
    std::vector<std::string> command; // the command word and its arguments
};

// Runs one command of vantrel-visa. Managers are created only by the commands
// that need one, through `createManager`.
class VisaShell {
public:
    using ManagerFactory = std::function<std::unique_ptr<visa::ResourceManager>()>;

    VisaShell(ShellOptions options, ManagerFactory createManager, std::ostream& out)
        : m_options(std::move(options)), m_createManager(std::move(createManager)), m_out(out)
    {
    }

    // Runs the command, whose arguments the command line has checked;
    // throws visa::Error on any failure.
    void run();

private:
    void list(const std::vector<std::string>& arguments);
    void match(const std::vector<std::string>& arguments);
    void transfer(const std::vector<std::string>& arguments, bool readReply);
    std::unique_ptr<visa::Session> openSession(visa::ResourceManager& manager, const std::string& resource);

    ShellOptions m_options;
    ManagerFactory m_createManager;
    std::ostream& m_out;
};

} // namespace tools
