#include "Replies.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace instrument {

namespace {

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Whether the whole text is one decimal number; sets nonZero when any digit
// of its mantissa is not 0 (the exponent cannot make a number zero).
bool isWholeNumber(const std::string& text, bool& nonZero)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    bool mantissaDigits = false;
    bool point = false;
    nonZero = false;
    for (; i < text.size(); ++i) {
        if (isDigit(text[i])) {
            mantissaDigits = true;
            nonZero = nonZero || text[i] != '0';
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!mantissaDigits)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        const std::size_t exponentStart = i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        if (i == exponentStart)
            return false;
    }
    return i == text.size();
}

} // namespace

std::vector<std::string> splitReplyFields(const std::string& reply)
{
    std::vector<std::string> fields;
    if (reply.empty())
        return fields;
    std::size_t start = 0;
    for (std::size_t comma = reply.find(','); comma != std::string::npos; comma = reply.find(',', start)) {
        fields.push_back(reply.substr(start, comma - start));
        start = comma + 1;
    }
    fields.push_back(reply.substr(start));
    return fields;
}

bool answersAnotherQuestion(const std::string& reply)
{
    const std::vector<std::string> fields = splitReplyFields(reply);
    return !fields.empty() && std::ranges::all_of(fields, [](const std::string& field) {
        const std::string text = trimmedField(field);
        return parseTruthValue(text) || text == "OVER" || (text.starts_with("CH") && text.ends_with(" OCP"));
    });
}

std::string trimmedField(const std::string& field)
{
    constexpr const char* kBlank = " \t\r\n";
    const std::size_t first = field.find_first_not_of(kBlank);
    if (first == std::string::npos)
        return {};
    return field.substr(first, field.find_last_not_of(kBlank) - first + 1);
}

std::optional<bool> parseTruthValue(const std::string& reply)
{
    const std::string text = trimmedField(reply);
    if (text.empty())
        return std::nullopt;

    const std::string word = lowerCase(text);
    if (word == "true")
        return true;
    if (word == "false")
        return false;
    bool nonZero = false;
    if (isWholeNumber(text, nonZero))
        return nonZero;
    return std::nullopt;
}

std::string printableText(const std::string& reply)
{
    std::string text = reply;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::string shown;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            shown += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            shown += escape;
        }
    }
    return shown;
}

} // namespace instrument
