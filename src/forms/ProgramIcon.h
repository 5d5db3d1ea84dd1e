#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace forms {

// A black scope screen in a bezel with about two periods of a sine wave.
QPixmap drawScopeIcon(int size, const QColor& bezel, const QColor& wave);

// The program icon: 32 x 32 with a light grey bezel and a white wave,
// 16 x 16 with a dark grey bezel and a green wave.
QIcon programIcon();

// The picture of the About dialog: the large screen with a green wave.
QPixmap aboutIconPixmap();

} // namespace forms
