#include "scope/TimeBase.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    float duration;
    const char* text2;
    const char* time;
    const char* units;
};

// The duration with "-" as "minus" and "." as "_" (5.49 -> Seconds5_49), for
// test names and printed cases that stay the same from build to build.
std::string rowName(const Row& row)
{
    QString name = QString::number(double(row.duration));
    name.replace(QLatin1Char('-'), QStringLiteral("minus")).replace(QLatin1Char('.'), QLatin1Char('_'));
    return "Seconds" + name.toStdString();
}

void PrintTo(const Row& row, std::ostream* out)
{
    *out << rowName(row);
}

class TimeBaseTable : public ::testing::TestWithParam<Row> {};

TEST_P(TimeBaseTable, TextsFollowTheTenthsRuleAndTheSecondsSwitch)
{
    const Row row = GetParam();
    const scope::TimeBase texts = scope::TimeBase::fromSweepDuration(row.duration);
    EXPECT_EQ(texts.text2.toStdString(), row.text2);
    EXPECT_EQ(texts.txtTime.toStdString(), row.time);
    EXPECT_EQ(texts.txtTimeUnits.toStdString(), row.units);
}

INSTANTIATE_TEST_SUITE_P(Durations, TimeBaseTable,
                         ::testing::Values(Row{0.0f, " 0", "0", "ms/div"}, Row{0.49f, " 49", "0", "ms/div"},
                                           Row{0.5f, " 50", "100", "ms/div"}, Row{5.46f, " 546", "500", "ms/div"},
                                           Row{5.49f, " 549", "500", "ms/div"}, // only the first decimal digit decides
                                           Row{5.5f, " 550", "600", "ms/div"}, Row{5.96f, " 596", "600", "ms/div"},
                                           Row{9.49f, " 949", "900", "ms/div"}, // the largest value shown in ms/div
                                           Row{9.5f, " 950", "1", "s/div"},     // 1000 is above 999
                                           Row{14.3f, " 1430", "1", "s/div"},   // 1400 -> 1.4 rounds to 1
                                           Row{14.6f, " 1460", "2", "s/div"},   // 1500 -> 1.5 rounds up to 2
                                           Row{99.96f, " 9996", "10", "s/div"},
                                           Row{0.12345f, " 12.345", "0", "ms/div"},      // fractional Text2
                                           Row{12345.678f, " 1234568", "1235", "s/div"}, // seven significant digits
                                           // A clock running backwards must not break the texts: Int rounds
                                           // down, the remainder keeps the sign, no switch to s/div.
                                           Row{-1.26f, "-126", "-200", "ms/div"},
                                           Row{-14.6f, "-1460", "-1500", "ms/div"}),
                         [](const auto& info) { return rowName(info.param); });

} // namespace
