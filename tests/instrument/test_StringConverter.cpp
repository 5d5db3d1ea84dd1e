#include "instrument/StringConverter.h"

#include <gtest/gtest.h>

#include <limits>

namespace instrument {
namespace {

struct Case {
    std::string text;
    double value;
};

class StrToDblTest : public ::testing::TestWithParam<Case> {};

TEST_P(StrToDblTest, ReadsTheLeadingNumber)
{
    EXPECT_DOUBLE_EQ(StringConverter::StrToDbl(GetParam().text), GetParam().value) << GetParam().text;
}

const double kLargest = std::numeric_limits<double>::max();

INSTANTIATE_TEST_SUITE_P(Table, StrToDblTest,
                         ::testing::Values(Case{"1.5", 1.5}, Case{"  1.5mA", 1.5}, Case{"-2E3x", -2000}, Case{"abc", 0},
                                           Case{"", 0}, Case{"1 2", 12}, Case{"\t1\n.\n5", 1.5}, Case{".5", 0.5},
                                           Case{"5.", 5}, Case{"1e", 1}, Case{"1e+", 1}, Case{"2.5e-1", 0.25},
                                           Case{"+3", 3}, Case{"-", 0}, Case{".", 0}, Case{"1.2.3", 1.2},
                                           Case{"12,5", 12}, Case{"1.5\r\n", 1.5}, Case{"\r1.5", 0}, Case{"CH2 OCP", 0},
                                           Case{"0.125\n", 0.125}, Case{"--1", 0}, Case{"7 OVER", 7},
                                           Case{std::string("4\0"
                                                            "2",
                                                            3),
                                                4},
                                           // Out of a double's range: the nearest finite value, never inf.
                                           Case{"1E999", kLargest}, Case{"-1E999", -kLargest}, Case{"1E-999", 0},
                                           Case{"0E999", 0}, Case{"0.000001E-320", 0},
                                           Case{"1E99999999999999999999", kLargest}));

} // namespace
} // namespace instrument
