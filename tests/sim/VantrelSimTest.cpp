// vantrel-sim's own description of its options.
#include "support/SimulatorProcess.h"

#include <gtest/gtest.h>

namespace {

TEST(VantrelSim, HelpDocumentsEveryOptionAndTheDefaultLoads)
{
    vtest::SimulatorProcess simulator({"--help"});
    std::string text;
    while (const auto line = simulator.outputLine())
        text += *line;
    EXPECT_EQ(simulator.wait(), 0);
    for (const char* item : {"--pty LINK", "--tcp PORT", "--log FILE", "--load CH=OHMS", "--ocp CH=MILLIAMPS",
                             "--baud N", "--fault FAULT", "silent", "slow:MS", "garbage", "short", "hangup:SECONDS",
                             "ocp:CH@SECONDS", "over:CH", "--version", "CH1 40, CH2 200, CH3 300 ohm"})
        EXPECT_NE(text.find(item), std::string::npos) << item;
}

} // namespace
