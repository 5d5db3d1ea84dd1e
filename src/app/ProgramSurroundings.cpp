#include "app/ProgramSurroundings.h"

#include "sim/SimulatedResourceManager.h"
#include "visa/OnIoThread.h"
#include "visa/ResourceManagers.h"

namespace app {

visa::ResourceManagerFactory resourceManagersFor(panel::ResourceMode mode)
{
    if (mode == panel::ResourceMode::Simulation)
        return [](const std::string&) { return sim::createSimulatedResourceManager(); };
    return [](const std::string& name) { return visa::createResourceManager(name); };
}

instrument::Surroundings programSurroundings(panel::ResourceMode mode, instrument::Dialogs& dialogs,
                                             std::function<void()> endProgram)
{
    instrument::Surroundings surroundings;
    surroundings.dialogs = &dialogs;
    surroundings.endProgram = std::move(endProgram);
    surroundings.io = std::make_shared<visa::IoThread>();
    surroundings.resourceManagers = visa::onIoThread(surroundings.io, resourceManagersFor(mode));
    return surroundings;
}

} // namespace app
