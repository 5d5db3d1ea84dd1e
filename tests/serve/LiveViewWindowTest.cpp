// View > Serve Live View... in the program's window: it asks for the
// address, serves the run read from the same live history the history
// window shows, and tells the user the address, or why it cannot serve.
#include "support/HttpClient.h"
#include "support/ProgramOverSimulator.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

using namespace vtest;

class LiveViewWindowTest : public ProgramOverSimulator {
protected:
    // Chooses View > Serve Live View... and answers its question with `address`.
    void serveAt(const QString& address)
    {
        window->setServeAddressQuestion([this, address](const QString& suggestion) {
            suggested = suggestion;
            return std::optional<QString>(address);
        });
        window->serveLiveViewAction()->trigger();
    }

    QString suggested;
};

TEST_F(LiveViewWindowTest, ServesTheRunOfTheWindowOnLoopbackAndShowsTheAddress)
{
    startSimulator();
    startProgram();
    serveAt(QStringLiteral("0"));
    EXPECT_EQ(suggested, "8080");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const std::string url = window->liveViewUrl().toStdString();
    ASSERT_TRUE(url.starts_with("http://127.0.0.1:")) << url; // loopback, no token
    EXPECT_NE(dialogs.shown[0].text.find(url), std::string::npos);
    EXPECT_EQ(window->serveLiveViewAction()->text(), "&Live View Address...");

    openOnSimulator();
    ASSERT_TRUE(waitForReadings(3));
    const auto port = static_cast<std::uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
    const std::string answer = vtest::exchange(port, get("/api/state"));
    ASSERT_EQ(statusOf(answer), 200) << answer;
    const QJsonObject state = QJsonDocument::fromJson(QByteArray::fromStdString(answer.substr(answer.find("\r\n\r\n") + 4))).object();
    EXPECT_EQ(state["session"].toString(), "open");
    EXPECT_GE(state["readings"].toInt(), 1);
    // The history window's model is the one fed through the live view.
    EXPECT_GE(window->historyWindows().live().history().readings().size(), std::size_t(state["readings"].toInt()));
}

TEST_F(LiveViewWindowTest, AnAddressInUseOrMalformedIsSaidInABox)
{
    startProgram();
    serve::HttpServer taken({"127.0.0.1", 0}, [](const serve::HttpRequest&) { return serve::HttpResponse{}; });
    serveAt(QString::fromStdString("127.0.0.1:" + std::to_string(taken.port())));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_NE(dialogs.shown[0].text.find("Cannot serve the live view on 127.0.0.1:" + std::to_string(taken.port())),
              std::string::npos)
        << dialogs.shown[0].text;
    EXPECT_TRUE(window->liveViewUrl().isEmpty());
    serveAt(QStringLiteral("localhost:8080"));
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_NE(dialogs.shown[1].text.find("numeric ADDRESS"), std::string::npos) << dialogs.shown[1].text;
}

} // namespace
