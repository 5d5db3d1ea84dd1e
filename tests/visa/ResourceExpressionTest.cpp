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
    {kProgram, "GPIB0::10::INSTR", true},
    {kProgram, "GPIB1::22::INSTR", true},
    {kProgram, "ASRL10::INSTR", false},
    {kProgram, "ASRL20::INSTR", false},
    {kProgram, "ASRL/dev/ttyUSB0::INSTR", false},
    {kProgram, "TCPIP0::1.2.3.4::5025::SOCKET", false},
    {kProgram, "GPIB0::5::INTFC", false},
    {kProgram, "GPIB0::5::INSTRX", false},
    {kProgram, "xGPIB0::5::INSTR", false},
    {kProgram, "asrl1::instr", true},
    {kProgram, "Gpib0::5::Instr", true},
    // Single characters, repeats and groups.
    {"?*", "", true},
    {"?*", "anything::at::all", true},
    {"?", "", false},
    {"a?c", "abc", true},
    {"a?c", "ac", false},
    {"ab*c", "ac", true},
    {"ab*c", "abbbc", true},
    {"ab+c", "ac", false},
    {"ab+c", "abbc", true},
    {"(ab)+", "ababab", true},
    {"(ab)+", "aba", false},
    {"(ab)*c", "c", true},
    {"x(a|bc)*y", "xabcay", true},
    {"x(a|bc)*y", "xaby", false},
    // Lists, negated lists, ranges, case.
    {"[abc]", "B", true},
    {"[a-c]x", "cx", true},
    {"[a-c]x", "dx", false},
    {"[A-Z]+", "mixedCASE", true},
    {"[^0]", "0", false},
    {"[^0]", "1", true},
    {"[^0-9]+", "abc", true},
    {"[^0-9]+", "ab1", false},
    {"[^a]", "A", false},
    {"[]]", "]", true},
    // Alternation binds loosest and must still cover the whole name.
    {"GPIB|ASRL", "ASRL", true},
    {"GPIB|ASRL", "GPIBASRL", false},
    {"ab|cd", "ab", true},
    {"a(b|c)d", "acd", true},
    {"a(b|)d", "ad", true},
    // Escapes and plain punctuation are literal.
    {"a\\*", "a*", true},
    {"a\\*", "aa", false},
    {"\\?", "?", true},
    {"\\?", "x", false},
    {"1.2", "1.2", true},
    {"1.2", "1x2", false},
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

TEST(ResourceExpression, NestedRepeatsOfEmptyGroupsEnd)
{
    // A repeat of something that can match nothing must not loop for ever.
    EXPECT_TRUE(visa::ResourceExpression("(a*)*b").matches("aaab"));
    EXPECT_FALSE(visa::ResourceExpression("(a*)+b").matches("aaac"));
}

TEST(ResourceExpression, DeeplyNestedRepeatsFinish)
{
    // Each level of "(...)+" once tried its part twice over, so forty levels never ended.
    const std::string expression = std::string(40, '(') + "a?*" + [] {
        std::string closers;
        for (int level = 0; level < 40; ++level)
            closers += ")+";
        return closers;
    }();
    const visa::ResourceExpression nested(expression);
    EXPECT_TRUE(nested.matches(std::string(100, 'a') + "b"));
    EXPECT_FALSE(nested.matches("b" + std::string(100, 'a')));
}

} // namespace
