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

// The session behind one that onIoThread() wrapped, for a job that already
// runs on the I/O thread (it owns no thread, so a job may let it go there);
// any other session comes back as it is.
std::shared_ptr<Session> sessionBehind(const std::shared_ptr<Session>& session);

} // namespace visa
