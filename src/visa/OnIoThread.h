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

// The other way round: a session a job opened on the I/O thread, wrapped as
// onIoThread() wraps the sessions its managers open. Called by that job, on
// the I/O thread (the session's views are asked for there). Without a thread
// the session comes back as it is.
std::shared_ptr<Session> sessionOnIoThread(std::shared_ptr<IoThread> thread, std::shared_ptr<Session> session);

// The manager behind one that onIoThread() made, for a job on the I/O thread
// to open with directly; any other manager is lent as it is (the caller keeps
// it alive).
std::shared_ptr<ResourceManager> managerBehind(ResourceManager& manager);

} // namespace visa
