// View > Serve Live View... and --serve: the run, read-only, in browsers
// (src/serve), from the live history and the recorder's rows.
#include "panel/MainForm.h"

#include <QInputDialog>
#include <QMenu>

namespace panel {

namespace {

const QString kDefaultAddress = QStringLiteral("8080");

std::optional<QString> askInTextBox(QWidget* parent, const QString& suggestion)
{
    bool given = false;
    const QString text = QInputDialog::getText(
        parent, QStringLiteral("Serve Live View"),
        QStringLiteral("Serve a read-only live view of this run to browsers at [ADDRESS:]PORT.\n"
                       "Without ADDRESS only this machine can look (127.0.0.1); any other\n"
                       "address (0.0.0.0: every network) asks browsers for a token."),
        QLineEdit::Normal, suggestion, &given);
    if (!given)
        return std::nullopt;
    return text.trimmed();
}

} // namespace

void MainForm::addServeAction(QMenu& view)
{
    m_ServeLiveView = view.addAction(QStringLiteral("Serve &Live View..."));
    m_askServeAddress = [this](const QString& suggestion) { return askInTextBox(this, suggestion); };
    connect(m_ServeLiveView, &QAction::triggered, this, &MainForm::ServeLiveView_Click);
}

void MainForm::ServeLiveView_Click()
{
    if (!m_liveView) {
        const std::optional<QString> address = m_askServeAddress(kDefaultAddress);
        if (!address)
            return;
        serve::ServeOptions options;
        try {
            options.address = serve::parseListenAddress(address->toStdString());
        } catch (const std::invalid_argument& wrong) {
            if (m_surroundings.dialogs)
                m_surroundings.dialogs->showMessage("Serve Live View",
                                                    "\"" + address->toStdString()
                                                        + "\" is no address to serve at: " + wrong.what() + ".",
                                                    instrument::MessageIcon::Exclamation);
            return;
        }
        if (!serveLiveView(options))
            return;
    }
    if (m_surroundings.dialogs)
        m_surroundings.dialogs->showMessage("Serve Live View",
                                            "The live view of this run is served read-only at\n\n"
                                                + liveViewUrl().toStdString()
                                                + "\n\nOpen it in a browser; it is served until the program ends.",
                                            instrument::MessageIcon::None);
}

bool MainForm::serveLiveView(const serve::ServeOptions& options)
{
    try {
        m_liveView = std::make_unique<serve::LiveView>(m_liveFeed, options);
    } catch (const std::exception& failure) {
        if (m_surroundings.dialogs)
            m_surroundings.dialogs->showMessage("Serve Live View", failure.what(),
                                                instrument::MessageIcon::Exclamation);
        return false;
    }
    m_ServeLiveView->setText(QStringLiteral("&Live View Address..."));
    return true;
}

QString MainForm::liveViewUrl() const
{
    return m_liveView ? QString::fromStdString(m_liveView->url()) : QString();
}

} // namespace panel
