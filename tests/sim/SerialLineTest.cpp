#include "sim/SerialLine.h"

#include <gtest/gtest.h>

namespace {

using namespace sim;

TEST(SerialLineTest, MatchingFramingPassesBytesUnchanged)
{
    const std::string bytes("IDN?\n\x00\xFF", 7);
    EXPECT_EQ(passOverLine(bytes, {38400, 8}, {38400, 8}), bytes);
    EXPECT_EQ(passOverLine(bytes, {9600, 7}, {9600, 7}), bytes);
}

TEST(SerialLineTest, ReceiverAtTwiceTheSpeedSamplesTheStartBitAsData)
{
    // Each sender bit lasts two receiver bits: the receiver's first data
    // sample still falls in the start bit (0), then every data sample lands on
    // sender bit i/2 of an all-ones byte.
    EXPECT_EQ(passOverLine("\xFF", {19200, 8}, {38400, 8}), "\xFE");
}

TEST(SerialLineTest, WrongBaudGarblesDeterministically)
{
    const std::string command = "IDN?\n";
    for (const std::int32_t baud : {9600, 19200, 57600, 115200}) {
        SCOPED_TRACE(baud);
        const auto toInstrument = passOverLine(command, {baud, 8}, {kInstrumentBaud, 8});
        EXPECT_NE(toInstrument, command);
        EXPECT_EQ(passOverLine(command, {baud, 8}, {kInstrumentBaud, 8}), toInstrument);
        EXPECT_NE(passOverLine(command, {kInstrumentBaud, 8}, {baud, 8}), command);
    }
}

TEST(SerialLineTest, HungUpOrUnknownSpeedLetsNothingThrough)
{
    EXPECT_EQ(passOverLine("IDN?\n", {0, 8}, {kInstrumentBaud, 8}), "");
    EXPECT_EQ(passOverLine("IDN?\n", {kInstrumentBaud, 8}, {0, 8}), "");
}

TEST(SerialLineTest, LineTimeIsTenBitsPerByte)
{
    EXPECT_EQ(lineTime(48, 38400), std::chrono::microseconds(12500));
    EXPECT_EQ(lineTime(1, 9600), std::chrono::nanoseconds(1'041'666));
    EXPECT_EQ(lineTime(0, 9600), std::chrono::nanoseconds(0));
}

} // namespace
