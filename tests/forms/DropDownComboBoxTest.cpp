#include "forms/DropDownComboBox.h"

#include <QAbstractItemView>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

TEST(DropDownComboBoxTest, AnnouncesTheDropDownBeforeTheListOpens)
{
    forms::DropDownComboBox combo;
    combo.show();
    bool listWasOpen = true;
    QObject::connect(&combo, &forms::DropDownComboBox::dropDown, [&] {
        listWasOpen = combo.view()->isVisible();
        combo.clear();
        combo.addItems({"GPIB0::5::INSTR", "ASRL1::INSTR"});
    });
    QSignalSpy dropDowns(&combo, &forms::DropDownComboBox::dropDown);

    combo.showPopup();

    EXPECT_EQ(dropDowns.count(), 1);
    EXPECT_FALSE(listWasOpen);
    EXPECT_TRUE(combo.view()->isVisible());
    EXPECT_EQ(combo.view()->model()->rowCount(), 2); // the list shows what the handler filled in
    combo.hidePopup();
}

} // namespace
