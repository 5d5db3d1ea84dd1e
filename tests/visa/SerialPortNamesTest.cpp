#include "visa/SerialPortNames.h"
#include "visa/ResourceExpression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace {

using visa::numberSerialPorts;

std::vector<std::string> resourcesOf(const std::vector<visa::NumberedPort>& ports)
{
    std::vector<std::string> names;
    for (const auto& port : ports)
        names.push_back(port.resource + "=" + port.device);
    return names;
}

TEST(SerialPortNames, OnBoardPortsFirstThenOthersInNumericOrder)
{
    const auto ports = numberSerialPorts(
        {"/dev/ttyUSB10", "/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyS1", "/dev/ttyS0", "/dev/ttyUSB0"});
    EXPECT_EQ(resourcesOf(ports), (std::vector<std::string>{
                                      "ASRL1::INSTR=/dev/ttyS0",
                                      "ASRL2::INSTR=/dev/ttyS1",
                                      "ASRL3::INSTR=/dev/ttyACM0",
                                      "ASRL4::INSTR=/dev/ttyUSB0",
                                      "ASRL5::INSTR=/dev/ttyUSB2",
                                      "ASRL6::INSTR=/dev/ttyUSB10",
                                  }));
}

TEST(SerialPortNames, NumbersSkipEverySecondDigitZero)
{
    const std::pair<std::size_t, int> expected[] = {{0, 1},   {8, 9},   {9, 11},   {17, 19},  {18, 21},
                                                    {80, 89}, {89, 99}, {90, 110}, {99, 119}, {100, 120}};
    for (const auto& [index, number] : expected)
        EXPECT_EQ(visa::serialPortNumber(index), number) << index;
}

} // namespace
