#include "visa/ResourceExpression.h"

#include "visa/Error.h"

#include <cctype>
#include <set>
#include <vector>

namespace visa {

// The expression is parsed into a small tree and matched by computing, for a
// set of start positions, every position where a node can end. Resource names
// are short, so this simple set-based matcher is plenty and never backtracks
// exponentially.
struct ResourceExpression::Node {
    enum class Kind { Literal, AnyChar, CharClass, Sequence, Alternation, Repeat };
    Kind kind = Kind::Literal;
    char literal = 0;
    bool negated = false;                      // CharClass: [^...]
    std::vector<std::pair<char, char>> ranges; // CharClass: ranges as written
    std::vector<std::unique_ptr<Node>> children;
    bool atLeastOnce = false;                  // Repeat: '+' rather than '*'
};

namespace {

using Node = ResourceExpression::Node;
using Positions = std::set<std::size_t>;

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    std::unique_ptr<Node> parseWhole() {
        auto node = parseAlternation();
        if (m_pos != m_text.size()) fail("unmatched ')'");
        return node;
    }

private:
    [[noreturn]] void fail(const std::string& why) const {
        throw Error("Invalid resource expression \"" + std::string(m_text) + "\": " + why);
    }

    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return m_text[m_pos]; }

    std::unique_ptr<Node> parseAlternation() {
        auto first = parseSequence();
        if (atEnd() || peek() != '|') return first;
        auto node = std::make_unique<Node>();
        node->kind = Node::Kind::Alternation;
        node->children.push_back(std::move(first));
        while (!atEnd() && peek() == '|') {
            ++m_pos;
            node->children.push_back(parseSequence());
        }
        return node;
    }

    std::unique_ptr<Node> parseSequence() {
        auto node = std::make_unique<Node>();
        node->kind = Node::Kind::Sequence;
        while (!atEnd() && peek() != '|' && peek() != ')') {
            auto atom = parseAtom();
            while (!atEnd() && (peek() == '*' || peek() == '+')) {
                auto repeat = std::make_unique<Node>();
                repeat->kind = Node::Kind::Repeat;
                repeat->atLeastOnce = peek() == '+';
                repeat->children.push_back(std::move(atom));
                atom = std::move(repeat);
                ++m_pos;
            }
            node->children.push_back(std::move(atom));
        }
        return node;
    }

    std::unique_ptr<Node> parseAtom() {
        const char c = m_text[m_pos++];
        auto node = std::make_unique<Node>();
        switch (c) {
        case '*':
        case '+':
            fail(std::string("'") + c + "' has nothing before it to repeat");
        case '?':
            node->kind = Node::Kind::AnyChar;
            return node;
        case '(': {
            auto inner = parseAlternation();
            if (atEnd() || peek() != ')') fail("'(' without ')'");
            ++m_pos;
            return inner;
        }
        case '[':
            return parseClass();
        case '\\':
            if (atEnd()) fail("'\\' at the end escapes nothing");
            node->literal = lower(m_text[m_pos++]);
            return node;
        default:
            node->literal = lower(c);
            return node;
        }
    }

    // Called after '['. A ']' right after '[' or '[^' is a member, as in the
    // usual bracket syntax, so "[]]" is accepted.
    std::unique_ptr<Node> parseClass() {
        auto node = std::make_unique<Node>();
        node->kind = Node::Kind::CharClass;
        if (!atEnd() && peek() == '^') {
            node->negated = true;
            ++m_pos;
        }
        bool first = true;
        while (true) {
            if (atEnd()) fail("'[' without ']'");
            char from = m_text[m_pos++];
            if (from == ']' && !first) break;
            first = false;
            if (from == '\\') {
                if (atEnd()) fail("'[' without ']'");
                from = m_text[m_pos++];
            }
            char to = from;
            if (m_pos + 1 < m_text.size() && peek() == '-' && m_text[m_pos + 1] != ']') {
                to = m_text[m_pos + 1];
                m_pos += 2;
                if (to < from) fail(std::string("range '") + from + "-" + to + "' runs backwards");
            }
            node->ranges.emplace_back(from, to);
        }
        return node;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

// Case is ignored by trying the character in both cases, so "[A-Z]" and
// "[a-z]" each accept either case.
bool classAccepts(const Node& node, char c) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    bool inside = false;
    for (const auto& [from, to] : node.ranges)
        for (char candidate : {c, lower(c), upper})
            inside = inside || (candidate >= from && candidate <= to);
    return inside != node.negated;
}

Positions ends(const Node& node, std::string_view name, const Positions& starts) {
    Positions out;
    switch (node.kind) {
    case Node::Kind::Literal:
        for (auto p : starts)
            if (p < name.size() && lower(name[p]) == node.literal) out.insert(p + 1);
        return out;
    case Node::Kind::AnyChar:
        for (auto p : starts)
            if (p < name.size()) out.insert(p + 1);
        return out;
    case Node::Kind::CharClass:
        for (auto p : starts)
            if (p < name.size() && classAccepts(node, name[p])) out.insert(p + 1);
        return out;
    case Node::Kind::Sequence: {
        Positions current = starts;
        for (const auto& child : node.children) {
            if (current.empty()) break;
            current = ends(*child, name, current);
        }
        return current;
    }
    case Node::Kind::Alternation:
        for (const auto& child : node.children) {
            auto part = ends(*child, name, starts);
            out.insert(part.begin(), part.end());
        }
        return out;
    case Node::Kind::Repeat: {
        // Grow the reachable set until no new positions appear.
        if (!node.atLeastOnce) out = starts;
        Positions frontier = starts;
        while (!frontier.empty()) {
            Positions next;
            for (auto p : ends(*node.children.front(), name, frontier))
                if (out.insert(p).second) next.insert(p);
            frontier = std::move(next);
        }
        return out;
    }
    }
    return out;
}

} // namespace

ResourceExpression::ResourceExpression(std::string_view expression) : m_root(Parser(expression).parseWhole()) {}
ResourceExpression::~ResourceExpression() = default;
ResourceExpression::ResourceExpression(ResourceExpression&&) noexcept = default;
ResourceExpression& ResourceExpression::operator=(ResourceExpression&&) noexcept = default;

bool ResourceExpression::matches(std::string_view name) const {
    return ends(*m_root, name, Positions{0}).count(name.size()) > 0;
}

} // namespace visa
