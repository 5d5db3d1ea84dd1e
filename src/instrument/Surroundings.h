#pragma once

#include "visa/ResourceManager.h"

#include <array>
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

// Hears the instrument traffic as it happens, for a recording of the run.
// Every call comes on the thread the instrument object runs on (the UI
// thread) and must return quickly.
class TrafficObserver {
public:
    virtual ~TrafficObserver() = default;
    // Each open ends in exactly one of these two; sessionClosed() follows a
    // sessionOpened() once, also when the close fails and is tried again.
    virtual void sessionOpened(const std::string& resource, const std::string& identity) = 0;
    virtual void openFailed(const std::string& reason) = 0;
    virtual void sessionClosed() = 0;
    // A command that asks nothing back, as sent without its line end.
    virtual void commandSent(const std::string& command) = 0;
    // The three fields of a current reading as the instrument sent them, trimmed.
    virtual void currentsRead(const std::array<std::string, 3>& fields) = 0;
    virtual void readingFailed(const std::string& reason) = 0;
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
    std::shared_ptr<visa::IoThread> io{};
    TrafficObserver* traffic = nullptr; // may stay unset
};

} // namespace instrument
