#include "instrument/NumberText.h"
#include "instrument/StringConverter.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include <unistd.h>

namespace instrument {
namespace {

struct Case {
    double value;
    const char* text;
};

class NumberTextTest : public ::testing::TestWithParam<Case> {};

TEST_P(NumberTextTest, WritesTheGeneralForm)
{
    EXPECT_EQ(numberText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Edges, NumberTextTest,
                         ::testing::Values(Case{2.5, "2.5"}, Case{0, "0"}, Case{-0.0, "0"},
                                           Case{1.0 / 3, "0.333333333333333"}, Case{2.0 / 3, "0.666666666666667"},
                                           Case{0.00001, "1E-05"}, Case{0.0001, "0.0001"},
                                           Case{0.00012345, "0.00012345"}, Case{1e15, "1E+15"},
                                           Case{1e15 - 1, "999999999999999"}, Case{123456789012345, "123456789012345"},
                                           Case{1234567890123456, "1.23456789012346E+15"}, Case{-0.5, "-0.5"},
                                           Case{0.1 + 0.2, "0.3"}, Case{6.5, "6.5"}, Case{100, "100"},
                                           Case{-1.25e-7, "-1.25E-07"}, Case{1e100, "1E+100"}, Case{1e-300, "1E-300"},
                                           // Rounding to 15 digits carries into the next power of ten.
                                           Case{9.9999999999999999e14, "1E+15"}, Case{0.99999999999999999, "1"},
                                           Case{std::numeric_limits<double>::infinity(), "inf"},
                                           Case{-std::numeric_limits<double>::infinity(), "-inf"},
                                           Case{std::numeric_limits<double>::quiet_NaN(), "nan"}));

// Switches LC_NUMERIC to a locale with a decimal comma for the lifetime of the
// object, building one with localedef in a temporary directory when the
// machine has none installed.
class CommaLocale {
public:
    CommaLocale() : m_previous(std::setlocale(LC_NUMERIC, nullptr))
    {
        if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            return;
        m_dir = std::filesystem::temp_directory_path() / ("vantrel-locale-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        const std::string build =
            "localedef -i de_DE -f UTF-8 '" + (m_dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
        if (std::system(build.c_str()) == 0) {
            ::setenv("LOCPATH", m_dir.c_str(), 1);
            std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        }
    }
    ~CommaLocale()
    {
        std::setlocale(LC_NUMERIC, m_previous.c_str());
        if (!m_dir.empty()) {
            ::unsetenv("LOCPATH");
            std::filesystem::remove_all(m_dir);
        }
    }
    bool active() const { return std::localeconv()->decimal_point[0] == ','; }

private:
    std::string m_previous;
    std::filesystem::path m_dir;
};

// Qt switches the C locale to the user's at start-up; a German locale writes
// "2,5" through printf and reads "2.5" as 2 through strtod. Neither
// conversion may follow it.
TEST(NumberTextLocale, KeepsThePointUnderACommaLocale)
{
    CommaLocale comma;
    if (!comma.active())
        GTEST_SKIP() << "no locale with a decimal comma available";
    EXPECT_EQ(numberText(2.5), "2.5");
    EXPECT_EQ(numberText(1.5e-7), "1.5E-07");
    EXPECT_EQ(StringConverter::StrToDbl("2.5"), 2.5);
}

} // namespace
} // namespace instrument
