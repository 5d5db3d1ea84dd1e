#pragma once

#include <QComboBox>

namespace forms {

// A combo box that announces "the list is about to drop down" before it opens,
// so its owner can refill the list first.
class DropDownComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void showPopup() override;

signals:
    void dropDown();
};

} // namespace forms
