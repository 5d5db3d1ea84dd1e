#pragma once

#include "ui_frmAbout.h"

#include <QDialog>

namespace forms {

// The About dialog: shown without an owner and not modally; OK, Enter, Esc
// and the close box all close it, and closing discards it.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    QPushButton* cmdOK() const { return m_ui.cmdOK; }
    QLabel* lblTitle() const { return m_ui.lblTitle; }
    QLabel* lblDescription(int index) const;

public slots:
    // Esc lands here: close like the OK button.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void cmdOK_Click();

private:
    Ui::frmAbout m_ui;
};

} // namespace forms
