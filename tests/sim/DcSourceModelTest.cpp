#include "sim/DcSourceModel.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using sim::DcSourceModel;
using sim::InstrumentSettings;
using std::chrono::milliseconds;

struct Exchange {
    std::string command;
    std::optional<std::string> reply;
};

class ModelTest : public ::testing::Test {
protected:
    DcSourceModel makeModel(InstrumentSettings settings = {})
    {
        return DcSourceModel(
            settings, [this] { return m_now; }, [this] { return m_noise; });
    }

    // Plays a conversation against one model and checks every reply byte for byte.
    void play(DcSourceModel& model, const std::vector<Exchange>& conversation)
    {
        for (const auto& [command, expected] : conversation)
            EXPECT_EQ(model.handle(command), expected) << "command: " << command;
    }

    milliseconds m_now{0};
    double m_noise = 0.0;
};

const std::string kIdentityLine = "Quendel,Orvane DC Source,SIM0001,1.00\n";

TEST_F(ModelTest, AnswersEveryCommandOfTheProtocol)
{
    auto model = makeModel();
    play(model, {
                    {"IDN?\n", kIdentityLine},
                    {"OUTP?\n", "0\n"},
                    {"RANG?\n", "1\n"},
                    {"SAMP?\n", "0\n"},
                    {"VSET?\n", "5.000,3.000,3.000\n"},
                    {"I?\n", "0.000,0.000,0.000\n"},
                    {"OUTPut 1\n", std::nullopt},
                    {"OUTP?\n", "1\n"},
                    {"I?\n", "125.000,15.000,10.000\n"},
                    {"I1?\n", "125.000\n"},
                    {"I2?\n", "15.000\n"},
                    {"I3?\n", "10.000\n"},
                    {"VSET1 2.5\n", std::nullopt},
                    {"VSET3 0\n", std::nullopt},
                    {"VSET2 0.333333333333333\n", std::nullopt},
                    {"VSET?\n", "2.500,0.333,0.000\n"},
                    {"VSET 1,2,3\n", std::nullopt},
                    {"VSET?\n", "1.000,2.000,3.000\n"},
                    {"VSET ,4.5,6.5\n", std::nullopt},
                    {"VSET?\n", "1.000,4.500,6.500\n"},
                    {"I?\n", "25.000,22.500,21.667\n"},
                    {"RANGeset 0\n", std::nullopt},
                    {"RANG?\n", "0\n"},
                    {"SAMP 1\n", std::nullopt},
                    {"SAMP?\n", "1\n"},
                    {"OUTPut 0\n", std::nullopt},
                    {"I?\n", "0.000,0.000,0.000\n"},
                    {"OUTPut 1\n", std::nullopt},
                    {"*RST\n", std::nullopt},
                    {"OUTP?\n", "0\n"},
                    {"RANG?\n", "1\n"},
                    {"SAMP?\n", "0\n"},
                    {"VSET?\n", "5.000,3.000,3.000\n"},
                });
}

TEST_F(ModelTest, IgnoresUnknownAndMalformedCommandsWithoutChangingState)
{
    auto model = makeModel();
    play(model, {
                    {"*IDN?\n", std::nullopt}, // the instrument's identity query has no asterisk
                    {"idn?\n", std::nullopt},  // keywords are case-exact
                    {"outp?\n", std::nullopt},
                    {"vset1 1\n", std::nullopt},
                    {"output 1\n", std::nullopt},
                    {"HELLO\n", std::nullopt},
                    {"\n", std::nullopt},
                    {"I4?\n", std::nullopt},
                    {"I0?\n", std::nullopt},
                    {"VSET4 1\n", std::nullopt},
                    {"VSET2 6.6\n", std::nullopt}, // above the 6.5 V limit
                    {"VSET2 -0.5\n", std::nullopt},
                    {"VSET2 abc\n", std::nullopt},
                    {"VSET2 \n", std::nullopt},
                    {"VSET 1,2,3,4\n", std::nullopt}, // whole list rejected
                    {"VSET 1,x,3\n", std::nullopt},
                    {"VSET 1,7,3\n", std::nullopt},
                    {"OUTPut 2\n", std::nullopt},
                    {"RANGeset on\n", std::nullopt},
                    {"SAMP\n", std::nullopt},
                    {"VSET?\n", "5.000,3.000,3.000\n"},
                    {"OUTP?\n", "0\n"},
                    {"RANG?\n", "1\n"},
                    {"SAMP?\n", "0\n"},
                });
}

TEST_F(ModelTest, OverCurrentTripsTheOutputUntilTheNextOutputCommand)
{
    InstrumentSettings settings;
    settings.ocpLimitMa[1] = 10.0; // CH2 draws 15 mA at its power-on voltage
    auto model = makeModel(settings);
    play(model, {
                    {"OUTPut 1\n", std::nullopt},
                    {"OUTP?\n", "0\n"},
                    {"I?\n", "0.000,CH2 OCP,0.000\n"},
                    {"I2?\n", "CH2 OCP\n"},
                    {"I?\n", "0.000,CH2 OCP,0.000\n"}, // reported on every reading
                    {"VSET2 1\n", std::nullopt},
                    {"I?\n", "0.000,CH2 OCP,0.000\n"}, // a new voltage does not release it
                    {"OUTPut 0\n", std::nullopt},
                    {"I?\n", "0.000,0.000,0.000\n"},
                    {"OUTPut 1\n", std::nullopt},
                    {"I?\n", "125.000,5.000,10.000\n"}, // 5 mA is below the limit
                    {"VSET2 2.5\n", std::nullopt},      // 12.5 mA trips again
                    {"I?\n", "0.000,CH2 OCP,0.000\n"},
                    {"OUTPut 1\n", std::nullopt}, // released, but still above the limit
                    {"I?\n", "0.000,CH2 OCP,0.000\n"},
                });
}

TEST_F(ModelTest, ChannelWithoutLimitNeverTripsAndReadsOverAboveFullScale)
{
    InstrumentSettings settings;
    settings.ocpLimitMa[0] = 170.0;
    auto model = makeModel(settings);
    play(model, {
                    {"VSET 6.5,6.5,6.5\n", std::nullopt},
                    {"OUTPut 1\n", std::nullopt},
                    {"I?\n", "162.500,OVER,21.667\n"}, // CH2 32.5 mA > 30 mA full scale, no limit
                    {"OUTP?\n", "1\n"},
                });
}

TEST_F(ModelTest, SeveralChannelsTripTogether)
{
    InstrumentSettings settings;
    settings.ocpLimitMa = {50.0, std::nullopt, 5.0};
    auto model = makeModel(settings);
    play(model, {{"OUTPut 1\n", std::nullopt}, {"I?\n", "CH1 OCP,0.000,CH3 OCP\n"}});
}

TEST_F(ModelTest, Ch1FullScaleFollowsTheRange)
{
    struct Case {
        const char* range;
        const char* volts;
        const char* reading;
    };
    const Case cases[] = {
        {"RANGeset 1\n", "VSET1 5\n", "125.000\n"},  {"RANGeset 1\n", "VSET1 6.5\n", "162.500\n"},
        {"RANGeset 0\n", "VSET1 0.4\n", "10.000\n"}, // exactly full scale is still a reading
        {"RANGeset 0\n", "VSET1 0.41\n", "OVER\n"},  {"RANGeset 0\n", "VSET1 5\n", "OVER\n"},
    };
    for (const auto& c : cases) {
        auto model = makeModel();
        play(model, {{c.range, std::nullopt}, {c.volts, std::nullopt}, {"OUTPut 1\n", std::nullopt}});
        EXPECT_EQ(model.handle("I1?\n"), c.reading) << c.range << c.volts;
    }
}

TEST_F(ModelTest, NoiseIsATenthPercentOfFullScale)
{
    m_noise = 1.0;
    auto model = makeModel();
    play(model, {{"OUTPut 1\n", std::nullopt}, {"I?\n", "125.200,15.030,10.030\n"}});
    m_noise = -1.0;
    EXPECT_EQ(model.handle("I?\n"), "124.800,14.970,9.970\n");
}

TEST_F(ModelTest, TimedTripFiresOnceWhenTheOutputIsOnAfterItsDelay)
{
    InstrumentSettings settings;
    settings.faults.ocpTrips.push_back({3, milliseconds(2000)});
    auto model = makeModel(settings);
    m_now = milliseconds(2500); // output still off: nothing to trip yet
    play(model, {{"I?\n", "0.000,0.000,0.000\n"}, {"OUTPut 1\n", std::nullopt}});
    m_now = milliseconds(2600);
    play(model, {
                    {"I?\n", "0.000,0.000,CH3 OCP\n"},
                    {"OUTP?\n", "0\n"},
                    {"OUTPut 1\n", std::nullopt},
                    {"I?\n", "125.000,15.000,10.000\n"},
                });
}

TEST_F(ModelTest, TimedTripWaitsForItsDelay)
{
    InstrumentSettings settings;
    settings.faults.ocpTrips.push_back({1, milliseconds(2000)});
    auto model = makeModel(settings);
    play(model, {{"OUTPut 1\n", std::nullopt}});
    m_now = milliseconds(1999);
    EXPECT_EQ(model.handle("I1?\n"), "125.000\n");
    m_now = milliseconds(2000);
    EXPECT_EQ(model.handle("I1?\n"), "CH1 OCP\n");
}

TEST_F(ModelTest, FaultsShapeTheReplies)
{
    struct Case {
        const char* name;
        void (*apply)(InstrumentSettings&);
        std::vector<Exchange> conversation;
    };
    const Case cases[] = {
        {"silent",
         [](InstrumentSettings& s) { s.faults.silent = true; },
         {{"IDN?\n", std::nullopt}, {"OUTPut 1\n", std::nullopt}, {"I?\n", std::nullopt}}},
        {"short",
         [](InstrumentSettings& s) { s.faults.shortReply = true; },
         {{"IDN?\n", "Quendel,Orvane DC Source,SIM0001\n"},
          {"OUTP?\n", "0\n"},
          {"VSET?\n", "5.000,3.000\n"},
          {"I2?\n", "0.000\n"}}},
        {"over on CH2",
         [](InstrumentSettings& s) { s.faults.over[1] = true; },
         {{"I?\n", "0.000,OVER,0.000\n"}, {"OUTPut 1\n", std::nullopt}, {"I?\n", "125.000,OVER,10.000\n"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InstrumentSettings settings;
        c.apply(settings);
        auto model = makeModel(settings);
        play(model, c.conversation);
    }
}

TEST_F(ModelTest, GarbageKeepsOneLineOfTheSameLengthButNoFields)
{
    InstrumentSettings settings;
    settings.faults.garbage = true;
    auto model = makeModel(settings);
    const auto reply = model.handle("IDN?\n");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), kIdentityLine.size());
    EXPECT_EQ(reply->back(), '\n');
    EXPECT_EQ(reply->find('\n'), reply->size() - 1);
    EXPECT_EQ(reply->find(','), std::string::npos);
    EXPECT_NE(*reply, kIdentityLine);
    EXPECT_EQ(model.handle("VSET1 1\n"), std::nullopt); // settings still answer nothing
}

TEST_F(ModelTest, AcceptsACarriageReturnBeforeTheLineFeed)
{
    auto model = makeModel();
    EXPECT_EQ(model.handle("OUTP?\r\n"), "0\n");
}

} // namespace
