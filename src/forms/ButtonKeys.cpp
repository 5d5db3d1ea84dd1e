#include "forms/ButtonKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace forms {

namespace {

bool clicksButton(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

} // namespace

bool ButtonKeys::eventFilter(QObject* watched, QEvent* event)
{
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (!button || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!clicksButton(key->key()) || key->modifiers() & ~Qt::KeypadModifier)
        return false;
    if (event->type() == QEvent::KeyRelease) {
        m_releasedKey = key->key();
        m_releasedAt = key->timestamp();
        return key->key() == Qt::Key_Space; // Space clicked on its press
    }
    // Events made by the program itself carry no time.
    const bool repeated = key->isAutoRepeat()
                          || (key->timestamp() != 0 && key->key() == m_releasedKey && key->timestamp() == m_releasedAt);
    if (!repeated && key->key() == Qt::Key_Space)
        button->click();
    // Enter and Return: the button's own handling clicks on the press.
    return repeated || key->key() == Qt::Key_Space;
}

} // namespace forms
