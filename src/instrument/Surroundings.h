#pragma once

#include "visa/ResourceManager.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace visa {
class IoThread;
}

namespace instrument {

enum class MessageIcon { None, Exclamation };

// Modal message boxes. The call returns when the user has dismissed the box.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void showMessage(const std::string& title, const std::string& text, MessageIcon icon) = 0;
};

// The window's alarm text box on the scope picture (textalm).
class AlarmDisplay {
public:
    virtual ~AlarmDisplay() = default;
    // Sets the text and the background colour (0x00BBGGRR) and makes the box
    // visible, all before returning.
    virtual void showAlarm(const std::string& text, std::uint32_t backgroundBgr) = 0;
};

// What IOClass needs from the program around it. The app wires the real
// resource managers and Qt message boxes; tests wire recorders.
struct Surroundings {
    visa::ResourceManagerFactory resourceManagers;
    Dialogs* dialogs = nullptr;
    AlarmDisplay* alarm = nullptr;
    // Ends the whole program at once. In the app it does not return.
    std::function<void()> endProgram;
    // The thread the resource managers above run their calls on; the window
    // asks it whether a call is in flight before it starts one from a timer.
    // Null when the calls run on the caller's thread (tests with fakes).
    std::shared_ptr<visa::IoThread> io;
};

} // namespace instrument
