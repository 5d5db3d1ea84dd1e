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

} // namespace
