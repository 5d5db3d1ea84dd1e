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
