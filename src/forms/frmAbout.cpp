#include "forms/frmAbout.h"

#include "forms/ProgramIcon.h"
#include "forms/WindowFont.h"
#include "version/Version.h"

#include <QCloseEvent>

#include <array>

namespace forms {

namespace {

// "Sample Application", 22 blanks and the version as "Ver1.00": the minor
// number always has two digits.
QString titleText()
{
    return QStringLiteral("Sample Application") + QString(22, u' ')
           + QStringLiteral("Ver%1.%2").arg(version::kMajor).arg(version::kMinor, 2, 10, QLatin1Char('0'));
}

} // namespace

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_ui.setupUi(this);
    setFont(windowFont());
    setFixedSize(size());
    m_ui.lblTitle->setText(titleText());
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
