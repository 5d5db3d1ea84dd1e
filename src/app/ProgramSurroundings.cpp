#include "app/ProgramSurroundings.h"

#include "sim/SimulatedResourceManager.h"
#include "visa/OnIoThread.h"
#include "visa/ResourceManagers.h"

namespace app {

instrument::Surroundings programSurroundings(panel::ResourceMode mode, instrument::Dialogs& dialogs,
                                             std::function<void()> endProgram)
{
    instrument::Surroundings surroundings;
    surroundings.dialogs = &dialogs;
    surroundings.endProgram = std::move(endProgram);
    surroundings.io = std::make_shared<visa::IoThread>();
    visa::ResourceManagerFactory managers;
    if (mode == panel::ResourceMode::Simulation)
        managers = [](const std::string&) { return sim::createSimulatedResourceManager(); };
    else
        managers = [](const std::string& name) { return visa::createResourceManager(name); };
    surroundings.resourceManagers = visa::onIoThread(surroundings.io, std::move(managers));
    return surroundings;
}

} // namespace app
