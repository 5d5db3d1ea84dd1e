#include "forms/ControlMap.h"

#include <QComboBox>
#include <QEvent>
#include <QSaveFile>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

namespace forms {

namespace {

void writeLine(QTextStream& out, const QString& name, QRect rect, qreal scale)
{
    out << name << ' ' << qRound(rect.x() * scale) << ' ' << qRound(rect.y() * scale) << ' '
        << qRound(rect.width() * scale) << ' ' << qRound(rect.height() * scale) << '\n';
}

void writeControlMap(const QWidget& window, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    QTextStream out(&file);
    const qreal scale = window.devicePixelRatioF();
    for (const QWidget* control : window.findChildren<QWidget*>()) {
        const QString name = control->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
            continue;
        const QPoint origin = control->mapTo(&window, QPoint(0, 0));
        writeLine(out, name, QRect(origin, control->size()), scale);
        if (const auto* combo = qobject_cast<const QComboBox*>(control)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            const QRect arrow =
                combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, combo);
            writeLine(out, name + QLatin1String("/arrow"), arrow.translated(origin), scale);
        }
    }
    out.flush();
    file.commit();
}

// Waits for the window's first show, then lets its layout settle (the menu
// bar's height is known only then) before writing.
class ShowWatcher : public QObject {
public:
    ShowWatcher(QWidget& window, QString path) : QObject(&window), m_window(window), m_path(std::move(path)) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &m_window && event->type() == QEvent::Show) {
            m_window.removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                writeControlMap(m_window, m_path);
                deleteLater();
            });
        }
        return false;
    }

private:
    QWidget& m_window;
    QString m_path;
};

} // namespace

void writeControlMapWhenShown(QWidget& window)
{
    const QString path = qEnvironmentVariable("VANTREL_CONTROL_MAP");
    if (path.isEmpty())
        return;
    window.installEventFilter(new ShowWatcher(window, path));
}

} // namespace forms
