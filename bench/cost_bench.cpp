// vantrel-bench-cost: the program's own work per sample, piece by piece
// (reading the reply, storing, a full redraw in each mode), and the same
// traces drawn by Qt Charts for comparison. Prints BENCH rows (Results.h).
#include "ProgramWindow.h"
#include "Results.h"
#include "Timing.h"

#include "instrument/IOClass.h"
#include "record/Recorder.h"
#include "scope/SampleBuffer.h"
#include "scope/WavePic.h"

#include <QApplication>
#include <QChart>
#include <QGraphicsScene>
#include <QImage>
#include <QLineSeries>
#include <QPainter>
#include <QTemporaryDir>
#include <QValueAxis>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <atomic>
#include <iostream>
#include <random>

namespace {

constexpr std::int32_t kSamples = 100; // samples per sweep, as the window keeps them
constexpr double kOwnCostLimitUs = 500;
constexpr double kRecordedRowLimitUs = 50;

// A serial session whose instrument answers at once: the identity to IDN?,
// one fixed current reading to everything else.
class FixedReplySession : public visa::Session, public visa::SerialView {
public:
    std::int16_t hardwareInterfaceType() const override { return visa::kInterfaceSerial; }
    void setTimeout(std::int32_t) override {}
    void close() override {}
    std::int32_t writeString(const std::string& text) override
    {
        m_identity = text == "IDN?\n";
        return static_cast<std::int32_t>(text.size());
    }
    std::string readString(std::int32_t) override
    {
        return m_identity ? "Quendel,Orvane DC Source,SIM0001,1.00\n" : "124.987,15.012,9.996\n";
    }
    void dropLateReplies() override {}
    visa::SerialView* serial() override { return this; }
    void setBaudRate(std::int32_t) override {}
    void setDataBits(std::int16_t) override {}
    void setDtrAsserted(bool) override {}

private:
    bool m_identity = false;
};

class FixedReplyManager : public visa::ResourceManager {
public:
    std::vector<std::string> findRsrc(const std::string&) override { return {"ASRL1::INSTR"}; }
    std::unique_ptr<visa::Session> open(const std::string&, std::int32_t, std::int32_t, const std::string&) override
    {
        return std::make_unique<FixedReplySession>();
    }
};

bench::ReportingDialogs g_dialogs;

instrument::Surroundings fixedReplySurroundings()
{
    instrument::Surroundings surroundings;
    surroundings.resourceManagers = [](const std::string&) { return std::make_unique<FixedReplyManager>(); };
    surroundings.dialogs = &g_dialogs;
    return surroundings;
}

bench::Spread readbackParsing()
{
    instrument::IOClass io(fixedReplySurroundings());
    io.SetBaudRate(38400);
    io.SetVISAResouce("ASRL1::INSTR");
    if (!io.VISAOpen())
        throw std::runtime_error("the fixed-reply session did not open");
    return bench::timeInBatches(2000, 10, [&] {
        instrument::Readback reading = io.GetCurrentCHArray();
        benchmark::DoNotOptimize(reading);
    });
}

// Samples as the simulated source gives them with its output on: 125, 15 and
// 10 mA with a little noise.
class Samples {
public:
    std::array<double, 3> next()
    {
        return {125 + m_noise(m_random) * 0.2, 15 + m_noise(m_random) * 0.03, 10 + m_noise(m_random) * 0.03};
    }

private:
    std::mt19937 m_random{7};
    std::uniform_real_distribution<double> m_noise{-1, 1};
};

// The window's sample buffer and bookkeeping, a full sweep of samples in it.
struct Acquired {
    Acquired()
    {
        buffer.allocate(kSamples);
        for (int i = 0; i < kSamples; ++i)
            add();
    }
    // Stores one sample in the next slot, as the acquisition does.
    void add()
    {
        lastIndex = lastIndex % kSamples + 1;
        store(samples.next());
    }
    void store(const std::array<double, 3>& reading)
    {
        for (int channel = 1; channel <= 3; ++channel)
            buffer.at(channel, lastIndex) = reading[static_cast<std::size_t>(channel - 1)];
        dataValid = true;
    }
    scope::DisplayState state(int chkRoll) const { return {&buffer, kSamples, dataValid, lastIndex, chkRoll, 1}; }

    scope::SampleBuffer buffer;
    std::int32_t lastIndex = 0;
    bool dataValid = false;
    Samples samples;
};

bench::Spread storing()
{
    Acquired acquired;
    const std::array<double, 3> reading = acquired.samples.next();
    return bench::timeInBatches(2000, 1000, [&] {
        acquired.lastIndex = acquired.lastIndex % kSamples + 1;
        acquired.store(reading);
        benchmark::ClobberMemory();
    });
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// Full redraws of the window's own picture after each new sample; with
// `andPaint`, each also painted onto the shown window at once, as a frame
// does.
bench::Spread redraws(scope::WavePic& picture, int chkRoll, bool andPaint = false)
{
    Acquired acquired;
    picture.setStateProvider([&] { return acquired.state(chkRoll); });
    const auto redraw = [&] {
        if (andPaint) {
            picture.redraw(); // the new state; the paint draws it
            picture.repaint(picture.contentsRect());
        } else {
            picture.render();
        }
    };
    for (int i = 0; i < 50; ++i)
        redraw();
    PaintCounter counter;
    picture.installEventFilter(&counter);
    constexpr int kRedraws = 2000;
    const bench::Spread spread = bench::timeEach(kRedraws, redraw, [&] { acquired.add(); });
    picture.removeEventFilter(&counter);
    picture.setStateProvider({});
    if (andPaint && counter.paints < kRedraws)
        throw std::runtime_error("the picture was painted " + std::to_string(counter.paints) + " times for "
                                 + std::to_string(kRedraws) + " redraws");
    return spread;
}

// The same three 100-point traces in a Qt Charts line chart of the picture's
// size, redrawn after each new sample as roll mode does (newest at the right).
bench::Spread chartRedraws(QSize size)
{
    Acquired acquired;
    QGraphicsScene scene;
    auto* chart = new QChart; // the scene owns it
    scene.addItem(chart);
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    chart->legend()->hide();
    chart->setBackgroundBrush(Qt::black);
    auto* time = new QValueAxis;
    time->setRange(0, kSamples - 1);
    auto* current = new QValueAxis;
    current->setRange(0, 200);
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(current, Qt::AlignLeft);
    std::array<QLineSeries*, 3> series{};
    const QColor colours[] = {Qt::red, Qt::green, Qt::cyan};
    for (std::size_t ch = 0; ch < series.size(); ++ch) {
        series[ch] = new QLineSeries;
        chart->addSeries(series[ch]);
        series[ch]->attachAxis(time);
        series[ch]->attachAxis(current);
        series[ch]->setPen(QPen(colours[ch], 0));
    }
    QImage image(size, QImage::Format_RGB32);
    QList<QPointF> points(kSamples);
    const auto redraw = [&] {
        for (std::size_t ch = 0; ch < series.size(); ++ch) {
            for (int k = 0; k < kSamples; ++k) {
                const int slot = (acquired.lastIndex + k) % kSamples + 1; // oldest first
                points[k] = QPointF(k, acquired.buffer.at(static_cast<int>(ch) + 1, slot));
            }
            series[ch]->replace(points);
        }
        QCoreApplication::processEvents(); // whatever the chart leaves for the event loop
        QPainter painter(&image);
        scene.render(&painter, QRectF(image.rect()), QRectF(QPointF(0, 0), size));
    };
    for (int i = 0; i < 20; ++i)
        redraw();
    return bench::timeEach(500, redraw, [&] { acquired.add(); });
}

// One current reading recorded, as the UI thread pays for it: the row
// formatted and queued for the recording's own thread, which writes it to a
// real file meanwhile.
bench::Spread recordedRows()
{
    QTemporaryDir dir;
    std::atomic<bool> failed = false;
    record::Recorder recorder([&failed](const std::string&) { failed = true; });
    recorder.start(dir.filePath(QStringLiteral("rows.csv")).toStdString(), record::RecordingFile::Existing::Replace);
    const std::array<std::string, 3> fields{"125.012", "CH2 OCP", "OVER"};
    const bench::Spread spread = bench::timeInBatches(50, 200, [&] { recorder.currentsRead(fields); });
    recorder.finishForExit(std::chrono::seconds(10));
    if (failed)
        throw std::runtime_error("the benchmark's recording failed");
    return spread;
}

std::string spreadText(const bench::Spread& spread)
{
    return "median " + bench::figureText(spread.median) + ", p95 " + bench::figureText(spread.p95);
}

void printSpread(const std::string& what, const bench::Spread& spread)
{
    bench::print({what + " (" + spreadText(spread) + " µs)", spread.median, "µs", {}, {}, {}});
}

} // namespace

int main(int argc, char** argv)
{
    bench::useOffscreenUnlessSet();
    QApplication app(argc, argv);
    bench::dressApplication();
    try {
        // The window's own picture, at its own size and font.
        panel::MainForm window(fixedReplySurroundings());
        scope::WavePic& picture = *window.controls().WavePic;
        const QSize area = picture.contentsRect().size();
        const std::string size = std::to_string(area.width()) + "x" + std::to_string(area.height());

        const bench::Spread parse = readbackParsing();
        const bench::Spread store = storing();
        const bench::Spread sweep = redraws(picture, 0);
        const bench::Spread roll = redraws(picture, 1);
        window.show(); // loads the window; no session is opened
        if (!bench::runEventLoopUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }, 10))
            throw std::runtime_error("the window was never exposed");
        const bench::Spread rollPainted = redraws(picture, 1, true);
        const bench::Spread charts = chartRedraws(area);
        const bench::Spread recorded = recordedRows();

        printSpread("2 parse: GetCurrentCHArray on a fixed reply", parse);
        printSpread("2 store: one sample into SampleBuffer", store);
        printSpread("2 full redraw, sweep mode, " + size, sweep);
        printSpread("2 full redraw, roll mode, " + size, roll);
        printSpread("2 full redraw, roll mode, and its paint onto the shown window", rollPainted);
        const bench::Target below{bench::Target::Kind::Below};
        for (const auto& [mode, redraw] : {std::pair{"roll", roll}, std::pair{"sweep", sweep}}) {
            bench::print({std::string("2 own cost per sample: parse + store + redraw (") + mode + "), sum of medians",
                          parse.median + store.median + redraw.median, "µs", kOwnCostLimitUs, "", below});
        }
        bench::print({"2 one recorded row: a reading formatted and queued for its file's thread ("
                          + spreadText(recorded) + " µs)",
                      recorded.median, "µs", kRecordedRowLimitUs, "", below});
        printSpread("5 Qt Charts reference: 3 QLineSeries x 100 points, " + size, charts);
        bench::print(
            {"5 Qt Charts redraw / our roll redraw (medians; ratio)", charts.median / roll.median, "x", {}, {}, {}});
    } catch (const std::exception& failure) {
        std::cerr << "vantrel-bench-cost: " << failure.what() << std::endl;
        return 1;
    }
    return 0;
}
