#include "forms/InputDuringCalls.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

#include <algorithm>

namespace forms {

namespace {

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease: return true;
    default: return false;
    }
}

// Every item of the menu bar's menus, submenus included.
void collectActions(const QList<QAction*>& actions, std::vector<QAction*>& into)
{
    for (QAction* action : actions) {
        into.push_back(action);
        if (QMenu* menu = action->menu())
            collectActions(menu->actions(), into);
    }
}

} // namespace

InputDuringCalls::InputDuringCalls(QMenuBar& menuBar, std::vector<QAction*> endings, QObject* parent)
    : QObject(parent), m_menuBar(menuBar), m_endings(std::move(endings))
{
}

void InputDuringCalls::callWaiting(bool waiting)
{
    if (waiting) {
        std::vector<QAction*> items;
        for (QAction* top : m_menuBar.actions())
            if (QMenu* menu = top->menu())
                collectActions(menu->actions(), items);
        for (QAction* item : items) {
            const bool ending = std::find(m_endings.begin(), m_endings.end(), item) != m_endings.end();
            if (!ending && !item->menu() && !item->isSeparator() && item->isEnabled()) {
                item->setEnabled(false);
                m_greyed.emplace_back(item);
            }
        }
        qApp->installEventFilter(this);
        return;
    }
    qApp->removeEventFilter(this);
    for (const QPointer<QAction>& item : std::exchange(m_greyed, {}))
        if (item)
            item->setEnabled(true);
}

bool InputDuringCalls::eventFilter(QObject* watched, QEvent* event)
{
    if (!isUserInput(event->type()) || !watched->isWidgetType())
        return false; // a window passes input on to its widgets, where it is judged
    if (static_cast<QWidget*>(watched)->window() != m_menuBar.window())
        return false; // another window (a history, the About box) changes nothing the call waits for
    for (QObject* object = watched; object; object = object->parent())
        if (qobject_cast<QMenu*>(object) || qobject_cast<QMenuBar*>(object))
            return false;
    return true;
}

} // namespace forms
