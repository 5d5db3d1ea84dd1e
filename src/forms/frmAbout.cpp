#include "forms/frmAbout.h"

#include "forms/ProgramIcon.h"
#include "forms/WindowFont.h"

#include <QCloseEvent>

#include <array>

namespace forms {

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_ui.setupUi(this);
    setFont(windowFont());
    setFixedSize(size());
    m_ui.picIcon->setPixmap(aboutIconPixmap());
    m_ui.cmdOK->setFocus();
    connect(m_ui.cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
}

QLabel* frmAbout::lblDescription(int index) const
{
    return std::array{m_ui.lblDescription_0, m_ui.lblDescription_1}.at(std::size_t(index));
}

void frmAbout::cmdOK_Click()
{
    close();
}

void frmAbout::reject()
{
    close();
}

void frmAbout::closeEvent(QCloseEvent* event)
{
    // QDialog's own handler would route the close through reject(), which
    // closes again; every way out ends here, so just let it close.
    event->accept();
}

} // namespace forms
