#include "sim/InstrumentSettings.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using namespace sim;
using std::chrono::milliseconds;

TEST(InstrumentSettingsTest, LoadAndLimitOptionsSetTheirChannel)
{
    InstrumentSettings settings;
    applyLoadOption(settings, "2=150");
    applyLoadOption(settings, "CH3=75.5");
    applyOcpOption(settings, "1=120");
    EXPECT_EQ(settings.loadOhms, (std::array<double, 3>{40.0, 150.0, 75.5}));
    EXPECT_EQ(settings.ocpLimitMa[0], 120.0);
    EXPECT_FALSE(settings.ocpLimitMa[1]);
    EXPECT_FALSE(settings.ocpLimitMa[2]);
}

TEST(InstrumentSettingsTest, RejectsBadLoadsAndLimits)
{
    for (const char* text : {"4=10", "0=10", "2=", "=5", "2", "2=-5", "2=0", "2=abc", "CH=5", "2=5x"}) {
        InstrumentSettings settings;
        EXPECT_THROW(applyLoadOption(settings, text), std::invalid_argument) << text;
    }
    InstrumentSettings settings;
    applyOcpOption(settings, "2=25");
    EXPECT_THROW(applyOcpOption(settings, "CH2=30"), std::invalid_argument); // one limit per channel
}

TEST(InstrumentSettingsTest, ParsesEveryFault)
{
    InstrumentSettings settings;
    for (const char* text :
         {"silent", "garbage", "short", "slow:250", "hangup:1.5", "ocp:2@3", "ocp:CH1@0.5", "over:CH3"})
        applyFaultOption(settings, text);
    const auto& f = settings.faults;
    EXPECT_TRUE(f.silent);
    EXPECT_TRUE(f.garbage);
    EXPECT_TRUE(f.shortReply);
    EXPECT_EQ(f.slow, milliseconds(250));
    EXPECT_EQ(f.hangupAfter, milliseconds(1500));
    ASSERT_EQ(f.ocpTrips.size(), 2u);
    EXPECT_EQ(f.ocpTrips[0].channel, 2);
    EXPECT_EQ(f.ocpTrips[0].after, milliseconds(3000));
    EXPECT_EQ(f.ocpTrips[1].channel, 1);
    EXPECT_EQ(f.ocpTrips[1].after, milliseconds(500));
    EXPECT_EQ(f.over, (std::array<bool, 3>{false, false, true}));
}

TEST(InstrumentSettingsTest, RejectsBadFaults)
{
    for (const char* text : {"loud", "", "slow", "slow:", "slow:x", "slow:-1", "silent:3", "hangup", "ocp:2", "ocp:5@1",
                             "ocp:2@", "over:4", "over:"}) {
        InstrumentSettings settings;
        EXPECT_THROW(applyFaultOption(settings, text), std::invalid_argument) << text;
    }
}

} // namespace
