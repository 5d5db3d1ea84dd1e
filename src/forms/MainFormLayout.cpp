#include "forms/MainFormLayout.h"

#include "forms/BackColor.h"
#include "forms/ControlMap.h"
#include "forms/ProgramIcon.h"
#include "forms/WindowFont.h"

#include <array>
#include <stdexcept>

namespace forms {

void MainFormLayout::build(QMainWindow& window)
{
    setupUi(&window);
    window.setFont(windowFont());
    window.setWindowIcon(programIcon());

    VISAResorceCombo->setEditText(QStringLiteral("Selection IoResource"));
    // "Fast" shows in the text field while no entry is selected.
    cmbSpeed->setCurrentIndex(-1);
    cmbSpeed->setEditText(QStringLiteral("Fast"));

    // The alarm box wears the desktop's button face, which a layout file
    // cannot name.
    setBackColor(*textalm, window.palette().color(QPalette::Button));

    // The picture's text boxes are placed from its inner area, inside its border.
    const QPoint innerOrigin = WavePic->contentsRect().topLeft();
    for (QLineEdit* box : {textalm, txtTimeUnits, txtTime})
        box->move(box->pos() + innerOrigin);

    // A lamp sits in front of its button; clicks go through to the button.
    for (QFrame* lamp : {piccmdComopen, picMesCommand, picOutputon_off})
        lamp->setAttribute(Qt::WA_TransparentForMouseEvents);

    window.resize(kClientSize.width(), kClientSize.height() + menubar->sizeHint().height());
    writeControlMapWhenShown(window);
}

QLineEdit* MainFormLayout::ChVText(int index) const
{
    return std::array{ChVText_0, ChVText_1, ChVText_2}.at(std::size_t(index));
}

QPushButton* MainFormLayout::comVoltSet(int index) const
{
    return std::array{comVoltSet_0, comVoltSet_1, comVoltSet_2}.at(std::size_t(index));
}

QLabel* MainFormLayout::Label3(int index) const
{
    return std::array{Label3_0, Label3_1, Label3_2}.at(std::size_t(index));
}

QLabel* MainFormLayout::Label4(int index) const
{
    return std::array{Label4_0, Label4_1, Label4_2}.at(std::size_t(index));
}

QFrame* MainFormLayout::Line1(int index) const
{
    switch (index) {
    case 0: return Line1_0;
    case 1: return Line1_1;
    case 3: return Line1_3;
    default: throw std::out_of_range("Line1 has the members 0, 1 and 3");
    }
}

} // namespace forms
