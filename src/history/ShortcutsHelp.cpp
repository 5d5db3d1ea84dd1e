#include "history/ShortcutsHelp.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace history {

const std::vector<std::pair<QString, QString>>& historyShortcuts()
{
    static const std::vector<std::pair<QString, QString>> shortcuts{
        {"Left, Right", "pan by an eighth of the span"},
        {"Page Up, Page Down", "pan by the whole span"},
        {"Up or +, Down or -", "zoom in, out about the middle"},
        {"Home", "the whole run"},
        {"Wheel", "zoom about the pointer"},
        {"Ctrl+Wheel", "zoom the values of the lane under the pointer (the lane then holds its range)"},
        {"Left drag; right drag or Shift+left drag", "pan; zoom to the dragged span"},
        {"Click, right-click", "place cursor A, B on the nearest reading; drag a cursor to move it"},
        {"A, B", "choose cursor A, B (placed in the middle when it is not placed)"},
        {"Shift+Left, Shift+Right", "move the chosen cursor to the previous, next reading"},
        {"Escape", "remove both cursors"},
        {"N, P", "next, previous event (of the kinds the Events list shows)"},
        {"Click on an event mark", "show its event (a merged mark: all of its events)"},
        {"Alt+Left or Backspace", "zoom back to the span shown before"},
        {"Alt+Right or Shift+Backspace", "zoom forward again"},
        {"Ctrl+G", "go to a typed time"},
        {"Ctrl+C", "copy the read-outs (the part selected, else all)"},
        {"Ctrl+O", "File > Open Recording..."},
        {"Ctrl+E, Ctrl+Shift+E", "File > Export Picture..., Export CSV..."},
        {"Ctrl+W", "File > Close"},
        {"F1", "Help > Keyboard Shortcuts (this list)"},
    };
    return shortcuts;
}

QDialog* showShortcutsHelp(QWidget* parent)
{
    auto* dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Keyboard Shortcuts - Vantrel History"));
    QString table = QStringLiteral("<table cellspacing='0' cellpadding='3'>");
    for (const auto& [keys, what] : historyShortcuts())
        table +=
            QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(keys.toHtmlEscaped(), what.toHtmlEscaped());
    auto* text = new QLabel(table + QStringLiteral("</table>"), dialog);
    text->setTextFormat(Qt::RichText);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog->show();
    return dialog;
}

} // namespace history
