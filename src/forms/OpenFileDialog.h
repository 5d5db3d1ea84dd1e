#pragma once

#include <QString>

class QWidget;

namespace forms {

// Asks the user which file to open. Tests put an answer of their own here
// instead of a real dialog.
class OpenFileDialog {
public:
    virtual ~OpenFileDialog() = default;
    // The chosen path, or an empty text when the user cancelled.
    virtual QString askOpenPath(QWidget* parent, const QString& caption, const QString& folder,
                                const QString& filter) = 0;
};

// The desktop's own open dialog.
class DesktopOpenFileDialog : public OpenFileDialog {
public:
    QString askOpenPath(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) override;
};

} // namespace forms
