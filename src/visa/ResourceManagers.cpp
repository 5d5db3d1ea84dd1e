#include "visa/ResourceManagers.h"

#include "visa/BuiltinResourceManager.h"
#include "visa/Error.h"
#include "visa/SystemVisaResourceManager.h"

namespace visa {

std::unique_ptr<ResourceManager> createResourceManager(const std::string& name)
{
    if (name == "VISA.GlobalRM")
        return createSystemVisaResourceManager();
    if (name == "AgilentRM.SRMCls")
        return std::make_unique<BuiltinResourceManager>();
    throw Error("Unknown resource manager \"" + name + "\"");
}

} // namespace visa
