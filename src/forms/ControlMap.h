#pragma once

class QWidget;

namespace forms {

// Where each control of a window lies, for tests that drive the real program
// through the display server and must find controls from the window itself
// (fonts, styles and screens move them). When the environment variable
// VANTREL_CONTROL_MAP names a file, the window writes into it, once shown,
// one line per named control: "name x y width height" in device pixels of
// the window's own area (the coordinates of `xdotool mousemove --window`);
// a combo box adds "name/arrow ..." for its drop-down button. The file is
// written under another name and renamed, so a reader never sees part of it.
// Without the variable nothing happens.
void writeControlMapWhenShown(QWidget& window);

} // namespace forms
