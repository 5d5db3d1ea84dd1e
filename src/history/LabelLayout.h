#pragma once

#include <optional>
#include <vector>

namespace history {

// A label to print along an axis: centred on `centre`, `width` pixels wide.
struct LabelBox {
    double centre = 0;
    double width = 0;
};

// Where each label's left edge goes so that no two overlap and none reaches
// left of `minLeft` (the row's caption) or right of `maxRight`: centred on
// its place (pushed left at the right edge), and left out (nothing) when it
// would reach into the caption or come closer than `gap` to the label printed
// before it. Labels in order of their centres.
std::vector<std::optional<double>> labelLefts(const std::vector<LabelBox>& labels, double minLeft, double maxRight,
                                              double gap);

} // namespace history
