#pragma once

#include <QString>

#include <utility>
#include <vector>

class QDialog;
class QWidget;

namespace history {

// Every key and mouse gesture of a history window, as Help > Keyboard
// Shortcuts lists them (and the README copies them): keys, what they do.
const std::vector<std::pair<QString, QString>>& historyShortcuts();

// The list in a window of its own beside the history (not modal).
QDialog* showShortcutsHelp(QWidget* parent);

} // namespace history
