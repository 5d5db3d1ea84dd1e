#include "sim/SimulatedResourceManager.h"

#include "sim/SerialLine.h"
#include "visa/Error.h"

#include <gtest/gtest.h>

namespace {

using namespace sim;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// Counts the time the simulated line spends instead of sleeping through it.
class CountingClock : public SimClock {
public:
    nanoseconds now() const override { return m_now; }
    void sleepFor(nanoseconds duration) override
    {
        ASSERT_GE(duration.count(), 0);
        m_now += duration;
    }

private:
    nanoseconds m_now{0};
};

const std::string kIdentityLine = "Quendel,Orvane DC Source,SIM0001,1.00\n";
constexpr const char* kSearchExpression = "(GPIB|ASRL)[0-9][^0]?*INSTR";

class SimulatedSessionTest : public ::testing::Test {
protected:
    std::unique_ptr<visa::ResourceManager> manager(InstrumentSettings settings = {})
    {
        return createSimulatedResourceManager({settings, m_clock, [] { return 0.0; }});
    }

    // A serial session set up the way the program sets one up.
    std::unique_ptr<visa::Session> openSerial(visa::ResourceManager& rm)
    {
        auto session = rm.open(kSimulatedSerialResource, 0, 5000, "");
        session->serial()->setBaudRate(kInstrumentBaud);
        session->serial()->setDataBits(8);
        session->setTimeout(2000);
        return session;
    }

    nanoseconds elapsedSince(nanoseconds start) const { return m_clock->now() - start; }

    std::shared_ptr<CountingClock> m_clock = std::make_shared<CountingClock>();
};

TEST_F(SimulatedSessionTest, ListsBothInstrumentsWithTheSerialOneLast)
{
    auto rm = manager();
    EXPECT_EQ(rm->findRsrc(kSearchExpression), (std::vector<std::string>{"GPIB0::5::INSTR", "ASRL1::INSTR"}));
    EXPECT_EQ(rm->findRsrc("ASRL?*INSTR"), (std::vector<std::string>{"ASRL1::INSTR"}));
    EXPECT_TRUE(rm->findRsrc("TCPIP?*").empty());
    EXPECT_EQ(rm->deviceOf("ASRL1::INSTR"), "simulated DC source on a serial line");
    EXPECT_EQ(rm->deviceOf("ASRL7::INSTR"), "");
}

TEST_F(SimulatedSessionTest, OpensEachInstrumentWithItsInterface)
{
    auto rm = manager();
    auto serial = rm->open("asrl1::instr", 0, 5000, "");
    EXPECT_EQ(serial->hardwareInterfaceType(), visa::kInterfaceSerial);
    EXPECT_NE(serial->serial(), nullptr);
    EXPECT_EQ(serial->gpib(), nullptr);
    auto gpib = rm->open(kSimulatedGpibResource, 0, 5000, "");
    EXPECT_EQ(gpib->hardwareInterfaceType(), visa::kInterfaceGpib);
    EXPECT_NE(gpib->gpib(), nullptr);
    EXPECT_EQ(gpib->serial(), nullptr);
    EXPECT_THROW(rm->open("ASRL2::INSTR", 0, 5000, ""), visa::Error);
}

TEST_F(SimulatedSessionTest, SerialLineSpendsTenBitTimesPerByte)
{
    auto rm = manager();
    auto session = openSerial(*rm);
    auto start = m_clock->now();
    EXPECT_EQ(session->writeString("IDN?\n"), 5);
    EXPECT_EQ(elapsedSince(start), lineTime(5, 38400));
    start = m_clock->now();
    EXPECT_EQ(session->readString(255), kIdentityLine);
    EXPECT_EQ(elapsedSince(start), lineTime(kIdentityLine.size(), 38400));

    session->serial()->setBaudRate(115200); // the instrument would garble now, but the time must follow the rate
    start = m_clock->now();
    session->writeString("OUTPut 1\n");
    EXPECT_EQ(elapsedSince(start), lineTime(9, 115200));
}

TEST_F(SimulatedSessionTest, GpibBusCostsNoLineTime)
{
    auto rm = manager();
    auto session = rm->open(kSimulatedGpibResource, 0, 5000, "");
    session->gpib()->setTimeout(2000);
    const auto start = m_clock->now();
    session->writeString("VSET?\n");
    EXPECT_EQ(session->readString(255), "5.000,3.000,3.000\n");
    EXPECT_EQ(elapsedSince(start), nanoseconds(0));
}

TEST_F(SimulatedSessionTest, WrongBaudRateGarblesTheCommandSoNothingAnswers)
{
    for (const std::int32_t baud : {9600, 19200, 57600}) {
        SCOPED_TRACE(baud);
        auto rm = manager();
        auto session = openSerial(*rm);
        session->serial()->setBaudRate(baud);
        session->writeString("IDN?\n");
        const auto start = m_clock->now();
        EXPECT_THROW(session->readString(255), visa::Error);
        EXPECT_EQ(elapsedSince(start), milliseconds(2000));
    }
}

TEST_F(SimulatedSessionTest, UntouchedSerialSessionRunsAtVisasDefault9600Baud)
{
    auto rm = manager();
    auto session = rm->open(kSimulatedSerialResource, 0, 5000, "");
    session->writeString("IDN?\n");
    EXPECT_THROW(session->readString(255), visa::Error);
}

TEST_F(SimulatedSessionTest, SilentInstrumentTimesOutAfterTheSessionTimeout)
{
    InstrumentSettings settings;
    settings.faults.silent = true;
    auto rm = manager(settings);
    auto session = openSerial(*rm);
    session->setTimeout(750);
    session->writeString("IDN?\n");
    const auto start = m_clock->now();
    try {
        session->readString(255);
        FAIL() << "a silent instrument answered";
    } catch (const visa::Error& error) {
        EXPECT_NE(error.description().find("Timeout"), std::string::npos) << error.description();
        EXPECT_NE(error.description().find("750 ms"), std::string::npos) << error.description();
    }
    EXPECT_EQ(elapsedSince(start), milliseconds(750));
}

TEST_F(SimulatedSessionTest, LateReplyMissesItsReadAndAnswersTheNextOne)
{
    InstrumentSettings settings;
    settings.faults.slow = milliseconds(3000);
    auto rm = manager(settings);
    auto session = rm->open(kSimulatedGpibResource, 0, 5000, "");
    session->writeString("OUTP?\n");
    EXPECT_THROW(session->readString(255), visa::Error);
    EXPECT_EQ(session->readString(255), "0\n"); // arrives 1 s into the second read
    EXPECT_EQ(m_clock->now(), milliseconds(3000));
}

TEST_F(SimulatedSessionTest, SlowReplyWithinTheTimeoutArrives)
{
    InstrumentSettings settings;
    settings.faults.slow = milliseconds(500);
    auto rm = manager(settings);
    auto session = rm->open(kSimulatedGpibResource, 0, 5000, "");
    session->writeString("RANG?\n");
    EXPECT_EQ(session->readString(255), "1\n");
    EXPECT_EQ(m_clock->now(), milliseconds(500));
}

TEST_F(SimulatedSessionTest, ReadStopsAtMaxCountAndKeepsTheRest)
{
    auto rm = manager();
    auto session = rm->open(kSimulatedGpibResource, 0, 5000, "");
    session->writeString("IDN?\n");
    EXPECT_EQ(session->readString(8), "Quendel,");
    EXPECT_EQ(session->readString(255), "Orvane DC Source,SIM0001,1.00\n");
}

TEST_F(SimulatedSessionTest, WriteThatCannotFinishWithinTheTimeoutFails)
{
    auto rm = manager();
    auto session = openSerial(*rm);
    session->serial()->setBaudRate(50); // 255 bytes take 51 s
    const auto start = m_clock->now();
    EXPECT_THROW(session->writeString(std::string(254, 'x') + "\n"), visa::Error);
    EXPECT_EQ(elapsedSince(start), milliseconds(2000));
}

TEST_F(SimulatedSessionTest, RejectsImpossibleSerialSettings)
{
    auto rm = manager();
    auto session = rm->open(kSimulatedSerialResource, 0, 5000, "");
    EXPECT_THROW(session->serial()->setBaudRate(0), visa::Error); // the program's baud rate before SetBaudRate
    EXPECT_THROW(session->serial()->setBaudRate(-9600), visa::Error);
    EXPECT_THROW(session->serial()->setDataBits(9), visa::Error);
    EXPECT_THROW(session->setTimeout(-1), visa::Error);
}

TEST_F(SimulatedSessionTest, InstrumentKeepsItsStateAcrossSessions)
{
    auto rm = manager();
    auto first = openSerial(*rm);
    first->writeString("VSET1 1.25\n");
    first->writeString("OUTPut 1\n");
    first->close();
    EXPECT_THROW(first->writeString("OUTP?\n"), visa::Error);
    EXPECT_THROW(first->readString(255), visa::Error);

    auto second = openSerial(*rm);
    second->writeString("VSET?\n");
    EXPECT_EQ(second->readString(255), "1.250,3.000,3.000\n");
    second->writeString("I1?\n");
    EXPECT_EQ(second->readString(255), "31.250\n");

    auto gpib = rm->open(kSimulatedGpibResource, 0, 5000, ""); // a different instrument
    gpib->writeString("OUTP?\n");
    EXPECT_EQ(gpib->readString(255), "0\n");
}

TEST_F(SimulatedSessionTest, RealClockRoundTripFinishes)
{
    auto rm = createSimulatedResourceManager();
    auto session = openSerial(*rm);
    session->writeString("IDN?\n");
    EXPECT_EQ(session->readString(255), kIdentityLine);
}

} // namespace
