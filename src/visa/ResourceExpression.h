#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace visa {

// A VISA resource expression as viFindRsrc takes it:
//   ?        any one character
//   *  +     zero or more / one or more of the preceding character or group
//   [list]   one character of the list, ranges with '-'; [^list] one not in it
//   \c       the character c itself
//   a|b      either alternative
//   ( )      grouping
// Every other character stands for itself. A name matches only when the
// whole name is accepted, ignoring case.
class ResourceExpression {
public:
    // Throws visa::Error when the expression is malformed.
    explicit ResourceExpression(std::string_view expression);
    ~ResourceExpression();
    ResourceExpression(ResourceExpression&&) noexcept;
    ResourceExpression& operator=(ResourceExpression&&) noexcept;

    bool matches(std::string_view name) const;

    struct Node;

private:
    std::unique_ptr<Node> m_root;
};

} // namespace visa
