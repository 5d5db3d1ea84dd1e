#include "visa/ResourceExpression.h"
#include "visa/Error.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* expression;
    const char* name;
    bool matches;
};

constexpr const char* kProgram = "(GPIB|ASRL)[0-9][^0]?*INSTR";

const Case kCases[] = {
    // The program's own search.
    {kProgram, "ASRL1::INSTR", true},
    {kProgram, "ASRL11::INSTR", true},
    {kProgram, "GPIB0::5::INSTR", true},
    {kProgram, "ASRL10::INSTR", false},
    {kProgram, "ASRL/dev/ttyUSB0::INSTR", false},
    {kProgram, "TCPIP0::1.2.3.4::5025::SOCKET", false},
    {kProgram, "GPIB0::5::INSTRX", false},
    {kProgram, "asrl1::instr", true},
    // Single characters, repeats and groups.
    {"?*", "anything::at::all", true},
    {"a?c", "abc", true},
    {"ab*c", "ac", true},
    {"ab+c", "abbc", true},
    {"(ab)+", "ababab", true},
    {"x(a|bc)*y", "xabcay", true},
    // Lists, negated lists, ranges, case.
    {"[abc]", "B", true},
    {"[a-c]x", "dx", false},
    {"[^0]", "0", false},
    {"[^0]", "1", true},
    {"[]]", "]", true},
    // Alternation binds loosest and must still cover the whole name.
    {"GPIB|ASRL", "ASRL", true},
    {"GPIB|ASRL", "GPIBASRL", false},
    // Escapes and plain punctuation are literal.
    {"a\\*", "a*", true},
    {"\\?", "?", true},
    {"TCPIP0::1\\.2::5025::SOCKET", "tcpip0::1.2::5025::socket", true},
};

TEST(ResourceExpression, TableOfNames)
{
    for (const auto& c : kCases)
        EXPECT_EQ(visa::ResourceExpression(c.expression).matches(c.name), c.matches)
            << "expression \"" << c.expression << "\" against \"" << c.name << "\"";
}

TEST(ResourceExpression, MalformedExpressionsAreRefused)
{
    for (const char* bad : {"(GPIB|ASRL", "GPIB)", "[abc", "[^", "*abc", "+", "(*)", "abc\\", "[z-a]", "a|*"}) {
        try {
            visa::ResourceExpression expression(bad);
            ADD_FAILURE() << "accepted \"" << bad << "\"";
        } catch (const visa::Error& error) {
            EXPECT_NE(std::string(error.what()).find(bad), std::string::npos) << error.what();
        }
    }
}

} // namespace
