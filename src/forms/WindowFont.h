#pragma once

#include <QFont>
#include <QString>

namespace forms {

// The font of every window: Tahoma 8.25 pt when installed; otherwise the
// Tahoma-compatible font that Wine ships (fontconfig does not scan its
// folder, so it is loaded from there); otherwise DejaVu Sans Condensed, whose
// widths come closest; otherwise the desktop's sans font.
// Needs a running QGuiApplication.
QFont windowFont(const QString& wineFontDir = QStringLiteral("/usr/share/wine/fonts"));

} // namespace forms
