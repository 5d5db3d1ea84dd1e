#include "Results.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace bench {

std::string figureText(double value)
{
    const double magnitude = std::fabs(value);
    const int decimals = magnitude >= 100 ? 0 : magnitude >= 10 ? 1 : magnitude >= 1 ? 2 : 3;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

namespace {

bool met(const Target& target, double figure, double limit)
{
    switch (target.kind) {
    case Target::Kind::Below: return figure < limit;
    case Target::Kind::AtLeastShare: return figure >= target.share * limit;
    }
    return false;
}

std::string targetText(const Target& target)
{
    if (target.kind == Target::Kind::Below)
        return "below limit";
    return "at least " + figureText(target.share * 100) + " % of limit";
}

} // namespace

void print(const Row& row)
{
    std::string limit, ratio, verdict;
    if (row.limit) {
        limit = figureText(*row.limit) + " " + row.unit;
        if (!row.limitNote.empty())
            limit += " (" + row.limitNote + ")";
        ratio = figureText(row.figure / *row.limit);
        if (row.target)
            verdict = std::string(met(*row.target, row.figure, *row.limit) ? "PASS" : "MISS") + ": "
                      + targetText(*row.target);
    }
    std::cout << "BENCH|" << row.what << '|' << figureText(row.figure) << ' ' << row.unit << '|' << limit << '|'
              << ratio << '|' << verdict << std::endl;
}

Spread spreadOf(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        const auto index = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size()))) - 1;
        return values[std::min(index, values.size() - 1)];
    };
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, at(0.95)};
}

} // namespace bench
