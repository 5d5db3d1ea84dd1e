#include "panel/VoltageEntry.h"

#include <gtest/gtest.h>

#include <cctype>

#include <optional>

namespace {

struct Row {
    const char* typed;
    const char* box;             // the box's text afterwards
    std::optional<double> sends; // empty: the box is restored from the instrument
};

// The typed text spelled out: digits and letters as they are, "." as "_",
// anything else as its byte value; the empty text as "Empty". Test names
// and printed cases use it, so they stay the same from build to build.
std::string rowName(const Row& row)
{
    std::string name = "Typed";
    for (unsigned char c : std::string(row.typed))
        name += std::isalnum(c) ? std::string(1, char(c)) : c == '.' ? std::string("_") : "x" + std::to_string(c);
    return name == "Typed" ? std::string("Empty") : name;
}

void PrintTo(const Row& row, std::ostream* out)
{
    *out << rowName(row);
}

class VoltageEntryTable : public ::testing::TestWithParam<Row> {};

TEST_P(VoltageEntryTable, SendsOnlyValidEntriesUpToTheLimit)
{
    const Row row = GetParam();
    const panel::VoltageEntry entry = panel::VoltageEntry::check(QString::fromUtf8(row.typed));
    EXPECT_EQ(entry.boxText.toStdString(), row.box);
    EXPECT_EQ(entry.voltage, row.sends);
}

// The entry sends nothing.
constexpr std::nullopt_t kNoVoltage = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Entries, VoltageEntryTable,
    ::testing::Values(Row{"5", "5", 5.0}, Row{"6.5", "6.5", 6.5}, // the limit is inclusive
                      Row{"6.51", "6.51", kNoVoltage}, Row{"7", "7", kNoVoltage},
                      Row{"10", "10", kNoVoltage},                             // second character is not "."
                      Row{"5.", "5.", 5.0}, Row{"1.234567", "1.2345", 1.2345}, // cut to six characters, then sent
                      Row{"6.59999", "6.5999", kNoVoltage},                    // cut, then above the limit
                      Row{"5.1a", "5.1a", kNoVoltage},
                      Row{"5.x", "5.x", kNoVoltage}, // three characters: only the conversion rejects it
                      Row{".5", ".5", kNoVoltage}, Row{" 5", " 5", kNoVoltage}, Row{"", "", kNoVoltage},
                      Row{"-1", "-1", kNoVoltage}, Row{"6.5000", "6.5000", 6.5},
                      Row{"5. ", "5. ", 5.0}, // a trailing blank is ignored by the conversion
                      Row{"0.0001", "0.0001", 0.0001}, Row{"0", "0", 0.0},
                      Row{"6.50001", "6.5000", 6.5},             // the cut brings it within the limit
                      Row{"5.12345x", "5.1234", 5.1234},         // what lies beyond the sixth character is dropped
                      Row{"10.123456", "10.123456", kNoVoltage}, // rejected before the cut: the box keeps it all
                      Row{"5. 1", "5. 1", kNoVoltage},
                      Row{"5.1 ", "5.1 ", kNoVoltage}, // blanks are read by the conversion, not after the point
                      Row{"5.  ", "5.  ", kNoVoltage}, Row{"5.\n", "5.\n", kNoVoltage}, // a line end is no blank
                      Row{"5.\r", "5.\r", kNoVoltage}, Row{"5.1e1", "5.1e1", kNoVoltage},
                      Row{"\xd9\xa5", "\xd9\xa5", kNoVoltage}, // ARABIC-INDIC DIGIT FIVE is no ASCII digit
                      Row{"5.\xd9\xa5", "5.\xd9\xa5", kNoVoltage}),
    [](const auto& info) { return rowName(info.param); });

} // namespace
