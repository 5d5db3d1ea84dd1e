#pragma once

// Reads a recording back as a spreadsheet program would: RFC 4180 records,
// comment lines ("# ...") left out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vtest {

using CsvRecord = std::vector<std::string>;

inline std::vector<CsvRecord> csvRecords(const std::string& text)
{
    std::vector<CsvRecord> records;
    CsvRecord record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            field += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (quoted || (c != ',' && c != '\n'))
            field += c;
        else {
            record.push_back(field);
            field.clear();
            if (c == '\n') {
                if (!record[0].starts_with("# "))
                    records.push_back(record);
                record.clear();
            }
        }
    }
    EXPECT_TRUE(field.empty() && record.empty()) << "the file ends inside a row";
    return records;
}

// The events of a recording in order: the last field of each row without currents.
inline std::vector<std::string> csvEvents(const std::vector<CsvRecord>& records)
{
    std::vector<std::string> found;
    for (const CsvRecord& row : records)
        if (row.size() == 6 && row[2].empty() && row[0] != "elapsed_s")
            found.push_back(row[5]);
    return found;
}

} // namespace vtest
