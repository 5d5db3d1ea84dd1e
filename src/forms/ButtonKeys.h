#pragma once

#include <QObject>

namespace forms {

// Enter, Return or Space on a focused button clicks it once per press, however
// long the key is held. X repeats a held key; without detectable autorepeat the
// repeats arrive as release/press pairs sharing one timestamp, which the
// toolkit does not always flag, so every press is checked here. Space clicks
// on its press, as Enter does, so a repeated release cannot click again.
// Install it on each button.
class ButtonKeys : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int m_releasedKey = 0;
    unsigned long m_releasedAt = 0;
};

} // namespace forms
