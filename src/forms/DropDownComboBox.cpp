#include "forms/DropDownComboBox.h"

namespace forms {

void DropDownComboBox::showPopup()
{
    // Handlers run synchronously, so the list shown below is the refilled one.
    emit dropDown();
    QComboBox::showPopup();
}

} // namespace forms
