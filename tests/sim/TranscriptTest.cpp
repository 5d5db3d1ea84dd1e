#include "sim/Transcript.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace {

using namespace sim;

TEST(TranscriptTest, EscapesNonPrintableBytesCStyle)
{
    const struct {
        std::string raw;
        std::string escaped;
    } cases[] = {
        {"I?\n", "I?\\n"},
        {"OUTP?\r\n", "OUTP?\\r\\n"},
        {"a\tb", "a\\tb"},
        {"back\\slash", "back\\\\slash"},
        {std::string("\x00\x01\x1F\x7F\x80\xFF", 6), "\\x00\\x01\\x1F\\x7F\\x80\\xFF"},
        {" ~", " ~"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(escapeBytes(c.raw), c.escaped);
}

TEST(TranscriptTest, WritesOneLinePerDirectionAndIsReadableAtOnce)
{
    const auto path =
        std::filesystem::path(::testing::TempDir()) / ("transcript-" + std::to_string(::getpid()) + ".log");
    Transcript transcript(path.string());
    transcript.received("I?\n");
    transcript.sent("1.000,2.000,3.000\n");
    // Still open: the lines must already be on disk.
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "> I?\\n\n< 1.000,2.000,3.000\\n\n");
    std::filesystem::remove(path);
}

TEST(TranscriptTest, ReportsAnUnwritablePath)
{
    EXPECT_THROW(Transcript("/nonexistent-dir/x.log"), std::runtime_error);
}

} // namespace
