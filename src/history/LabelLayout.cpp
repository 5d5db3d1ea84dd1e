#include "history/LabelLayout.h"

#include <algorithm>

namespace history {

std::vector<std::optional<double>> labelLefts(const std::vector<LabelBox>& labels, double minLeft, double maxRight,
                                              double gap)
{
    std::vector<std::optional<double>> lefts;
    lefts.reserve(labels.size());
    double freeFrom = minLeft;
    for (const LabelBox& label : labels) {
        const double left = std::min(label.centre - label.width / 2, maxRight - label.width);
        if (left < freeFrom || left + label.width > maxRight) {
            lefts.emplace_back();
            continue;
        }
        lefts.emplace_back(left);
        freeFrom = left + label.width + gap;
    }
    return lefts;
}

} // namespace history
