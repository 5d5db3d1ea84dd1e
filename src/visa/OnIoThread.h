#pragma once

#include "visa/IoThread.h"
#include "visa/ResourceManager.h"

#include <memory>

namespace visa {

// The program's resource managers with every call moved onto the I/O thread:
// the manager is made there, and each of its operations and those of the
// sessions it opens runs there, while the caller waits as IoThread::run
// describes. Managers, sessions and their views keep their interfaces, so the
// instrument object cannot tell the difference.
ResourceManagerFactory onIoThread(std::shared_ptr<IoThread> thread, ResourceManagerFactory factory);

} // namespace visa
