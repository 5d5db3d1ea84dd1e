#pragma once

#include <QString>

class QWidget;

namespace forms {

// Asks the user where to save a file. Tests put an answer of their own here
// instead of a real dialog.
class SaveFileDialog {
public:
    virtual ~SaveFileDialog() = default;
    // The chosen path, or an empty text when the user cancelled. A name
    // chosen without an extension gets that of the suggested path. An
    // existing file is only returned once the user has agreed to replace it.
    virtual QString askSavePath(QWidget* parent, const QString& caption, const QString& suggestedPath,
                                const QString& filter) = 0;
};

// The desktop's own save dialog.
class DesktopSaveFileDialog : public SaveFileDialog {
public:
    QString askSavePath(QWidget* parent, const QString& caption, const QString& suggestedPath,
                        const QString& filter) override;
};

} // namespace forms
