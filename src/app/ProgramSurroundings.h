#pragma once

#include "instrument/Surroundings.h"
#include "panel/MainForm.h"

#include <functional>

namespace app {

// What the program hands its main window: the resource managers of the mode
// it runs in (the simulated instruments, or the VISA library with the
// built-in manager behind it) with their calls on an I/O thread of their own,
// the message boxes and the program end. The
// executable and the whole-program tests build their window from this, so
// both run the same wiring.
// The resource managers of the mode, as they run on the I/O thread.
visa::ResourceManagerFactory resourceManagersFor(panel::ResourceMode mode);

instrument::Surroundings programSurroundings(panel::ResourceMode mode, instrument::Dialogs& dialogs,
                                             std::function<void()> endProgram);

} // namespace app
