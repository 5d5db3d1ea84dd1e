#include "app/ProgramSurroundings.h"

#include "sim/SimulatedResourceManager.h"
#include "visa/ResourceManagers.h"

namespace app {

instrument::Surroundings programSurroundings(panel::ResourceMode mode, instrument::Dialogs& dialogs,
                                             std::function<void()> endProgram)
{
    instrument::Surroundings surroundings;
    surroundings.dialogs = &dialogs;
    surroundings.endProgram = std::move(endProgram);
    if (mode == panel::ResourceMode::Simulation)
        surroundings.resourceManagers = [](const std::string&) { return sim::createSimulatedResourceManager(); };
    else
        surroundings.resourceManagers = [](const std::string& name) { return visa::createResourceManager(name); };
    return surroundings;
}

} // namespace app
