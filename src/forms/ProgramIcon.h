#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace forms {

// A black scope screen in a bezel with about two periods of a sine wave.
QPixmap drawScopeIcon(int size, const QColor& bezel, const QColor& wave);

// The program icon at one size: up to 16 x 16 a dark grey bezel and a green
// wave, larger a light grey bezel and a white wave.
QPixmap programIconPixmap(int size);

// The program icon at 32 x 32 and 16 x 16.
QIcon programIcon();

// The picture of the About dialog: the large screen with a green wave.
QPixmap aboutIconPixmap();

} // namespace forms
