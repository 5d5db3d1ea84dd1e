#pragma once

#include <cstdint>
#include <vector>

namespace instrument {

// An array with an explicit lower bound, as the instrument's array commands
// accept them: elements[0] is the element at index lowerBound.
template <class T>
struct BoundedArray {
    std::int32_t lowerBound = 0;
    std::vector<T> elements;

    std::int32_t upperBound() const { return lowerBound + static_cast<std::int32_t>(elements.size()) - 1; }
};

} // namespace instrument
