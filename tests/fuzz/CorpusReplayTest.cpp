// Every committed fuzz input (the seed corpus and each input that once found
// a fault) runs through its check in every build, with or without clang.
#include "FuzzEntries.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Folder name under corpus/ and crashes/ -> the check its inputs feed.
const std::map<std::string, std::function<void(std::string_view)>> kChecks = {
    {"strtodbl", fuzz::checkStrToDbl},
    {"readback", fuzz::checkReadback},
    {"voltage_entry", fuzz::checkVoltageEntry},
    {"resource_expression", fuzz::checkResourceExpression},
    {"recording_reader", fuzz::checkRecordingReader},
    {"serve_query", fuzz::checkServeQuery},
};

const fs::path kInputRoot = FUZZ_INPUT_DIR;

struct Input {
    std::string check;
    fs::path file;
};

void PrintTo(const Input& input, std::ostream* os)
{
    *os << input.file.lexically_relative(kInputRoot).string();
}

std::vector<Input> committedInputs()
{
    std::vector<Input> inputs;
    for (const char* kind : {"corpus", "crashes"}) {
        if (!fs::exists(kInputRoot / kind))
            continue;
        for (const auto& folder : fs::directory_iterator(kInputRoot / kind))
            for (const auto& file : fs::directory_iterator(folder.path()))
                inputs.push_back({folder.path().filename().string(), file.path()});
    }
    return inputs;
}

std::string readAll(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CommittedInput : public ::testing::TestWithParam<Input> {};

TEST_P(CommittedInput, PassesItsCheck)
{
    const Input& input = GetParam();
    const auto check = kChecks.find(input.check);
    ASSERT_NE(check, kChecks.end()) << "no fuzz check is named " << input.check;
    const std::string bytes = readAll(input.file);
    try {
        check->second(bytes);
    } catch (const fuzz::PropertyViolation& violation) {
        FAIL() << violation.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, CommittedInput, ::testing::ValuesIn(committedInputs()), [](const auto& info) {
    std::string name = info.param.file.parent_path().parent_path().filename().string() + "_" + info.param.check + "_"
                       + info.param.file.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
});

TEST(CommittedInput, EveryCheckHasSeeds)
{
    for (const auto& [name, check] : kChecks) {
        const fs::path folder = kInputRoot / "corpus" / name;
        EXPECT_TRUE(fs::is_directory(folder) && !fs::is_empty(folder)) << "no seed inputs in " << folder;
    }
}

} // namespace
