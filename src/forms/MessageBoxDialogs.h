#pragma once

#include "instrument/Surroundings.h"

namespace forms {

// Modal message boxes with one OK button. The call returns when the user
// has dismissed the box; timers and other window events go on meanwhile.
class MessageBoxDialogs : public instrument::Dialogs {
public:
    void showMessage(const std::string& title, const std::string& text, instrument::MessageIcon icon) override;
};

} // namespace forms
