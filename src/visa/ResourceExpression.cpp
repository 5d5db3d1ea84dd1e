#include "visa/ResourceExpression.h"

#include "visa/Error.h"

#include <cctype>
#include <string>
#include <vector>

namespace visa {

// The expression is parsed into a small tree, which each match compiles into
// an automaton (see Automaton below).
struct ResourceExpression::Node {
    enum class Kind { Literal, AnyChar, CharClass, Sequence, Alternation, Repeat };
    Kind kind = Kind::Literal;
    char literal = 0;
    bool negated = false;                      // CharClass: [^...]
    std::vector<std::pair<char, char>> ranges; // CharClass: ranges as written
    std::vector<std::unique_ptr<Node>> children;
    bool atLeastOnce = false; // Repeat: '+' rather than '*'
};

namespace {

using Node = ResourceExpression::Node;

char lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    std::unique_ptr<Node> parseWhole()
    {
        auto node = parseAlternation();
        if (m_pos != m_text.size())
            fail("unmatched ')'");
        return node;
    }

private:
    [[noreturn]] void fail(const std::string& why) const
    {
        throw Error("Invalid resource expression \"" + std::string(m_text) + "\": " + why);
    }

    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return m_text[m_pos]; }

    std::unique_ptr<Node> parseAlternation()
    {
        auto first = parseSequence();
        if (atEnd() || peek() != '|')
            return first;
        auto node = std::make_unique<Node>();
        node->kind = Node::Kind::Alternation;
        node->children.push_back(std::move(first));
        while (!atEnd() && peek() == '|') {
            ++m_pos;
            node->children.push_back(parseSequence());
        }
        return node;
    }

    std::unique_ptr<Node> parseSequence()
    {
        auto node = std::make_unique<Node>();
        node->kind = Node::Kind::Sequence;
        while (!atEnd() && peek() != '|' && peek() != ')') {
            auto atom = parseAtom();
            while (!atEnd() && (peek() == '*' || peek() == '+')) {
                // A repeat of a repeat is one repeat ("a*+" is "a*"), so a run
                // of them cannot nest the tree without bound.
                if (atom->kind == Node::Kind::Repeat) {
                    atom->atLeastOnce = atom->atLeastOnce && peek() == '+';
                } else {
                    auto repeat = std::make_unique<Node>();
                    repeat->kind = Node::Kind::Repeat;
                    repeat->atLeastOnce = peek() == '+';
                    repeat->children.push_back(std::move(atom));
                    atom = std::move(repeat);
                }
                ++m_pos;
            }
            node->children.push_back(std::move(atom));
        }
        return node;
    }

    std::unique_ptr<Node> parseAtom()
    {
        const char c = m_text[m_pos++];
        auto node = std::make_unique<Node>();
        switch (c) {
        case '*':
        case '+': fail(std::string("'") + c + "' has nothing before it to repeat");
        case '?': node->kind = Node::Kind::AnyChar; return node;
        case '(': {
            // Parsing, compiling and freeing the tree recurse once per level.
            if (++m_depth > kMaxNesting)
                fail("groups nested deeper than " + std::to_string(kMaxNesting) + " levels");
            auto inner = parseAlternation();
            --m_depth;
            if (atEnd() || peek() != ')')
                fail("'(' without ')'");
            ++m_pos;
            return inner;
        }
        case '[': return parseClass();
        case '\\':
            if (atEnd())
                fail("'\\' at the end escapes nothing");
            node->literal = lower(m_text[m_pos++]);
            return node;
        default: node->literal = lower(c); return node;
        }
    }

    // Called after '['. A ']' right after '[' or '[^' is a member, as in the
    // usual bracket syntax, so "[]]" is accepted.
    std::unique_ptr<Node> parseClass()
    {
        auto node = std::make_unique<Node>();
        node->kind = Node::Kind::CharClass;
        if (!atEnd() && peek() == '^') {
            node->negated = true;
            ++m_pos;
        }
        bool first = true;
        while (true) {
            if (atEnd())
                fail("'[' without ']'");
            char from = m_text[m_pos++];
            if (from == ']' && !first)
                break;
            first = false;
            if (from == '\\') {
                if (atEnd())
                    fail("'[' without ']'");
                from = m_text[m_pos++];
            }
            char to = from;
            if (m_pos + 1 < m_text.size() && peek() == '-' && m_text[m_pos + 1] != ']') {
                to = m_text[m_pos + 1];
                m_pos += 2;
                if (to < from)
                    fail(std::string("range '") + from + "-" + to + "' runs backwards");
            }
            node->ranges.emplace_back(from, to);
        }
        return node;
    }

    static constexpr int kMaxNesting = 64;

    std::string_view m_text;
    std::size_t m_pos = 0;
    int m_depth = 0;
};

// Case is ignored by trying the character in both cases, so "[A-Z]" and
// "[a-z]" each accept either case.
bool classAccepts(const Node& node, char c)
{
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    bool inside = false;
    for (const auto& [from, to] : node.ranges)
        for (char candidate : {c, lower(c), upper})
            inside = inside || (candidate >= from && candidate <= to);
    return inside != node.negated;
}

// The tree compiled into a Thompson automaton: each state either consumes one
// character and goes on to `next`, or moves without consuming to each of
// `next` (an alternation or a repeat's loop), or is the accepting state.
// Running every state at once over the name costs states x characters, so no
// expression can make a match take exponential time (nested repeats such as
// "((a*)+)+" did, when each repeat tried its part again from every position).
class Automaton {
public:
    explicit Automaton(const Node& root) { m_start = compile(root, addState(StateKind::Accept, nullptr)); }

    bool accepts(std::string_view name) const
    {
        std::vector<bool> current = closure({m_start});
        for (char c : name) {
            std::vector<int> moved;
            for (std::size_t id = 0; id < m_states.size(); ++id)
                if (current[id] && m_states[id].kind == StateKind::Consume && consumes(*m_states[id].node, c))
                    moved.push_back(m_states[id].next.front());
            if (moved.empty())
                return false;
            current = closure(moved);
        }
        for (std::size_t id = 0; id < m_states.size(); ++id)
            if (current[id] && m_states[id].kind == StateKind::Accept)
                return true;
        return false;
    }

private:
    enum class StateKind { Consume, Branch, Accept };
    struct State {
        StateKind kind;
        const Node* node; // Consume: the Literal, AnyChar or CharClass it tests
        std::vector<int> next;
    };

    int addState(StateKind kind, const Node* node, std::vector<int> next = {})
    {
        m_states.push_back({kind, node, std::move(next)});
        return static_cast<int>(m_states.size()) - 1;
    }

    // Builds the states of `node` so that a match of it continues at `then`;
    // returns the state where the match of `node` begins.
    int compile(const Node& node, int then)
    {
        switch (node.kind) {
        case Node::Kind::Literal:
        case Node::Kind::AnyChar:
        case Node::Kind::CharClass: return addState(StateKind::Consume, &node, {then});
        case Node::Kind::Sequence:
            for (auto child = node.children.rbegin(); child != node.children.rend(); ++child)
                then = compile(**child, then);
            return then;
        case Node::Kind::Alternation: {
            std::vector<int> starts;
            for (const auto& child : node.children)
                starts.push_back(compile(*child, then));
            return addState(StateKind::Branch, nullptr, std::move(starts));
        }
        case Node::Kind::Repeat: {
            const int loop = addState(StateKind::Branch, nullptr);
            const int body = compile(*node.children.front(), loop);
            m_states[loop].next = {body, then};
            return node.atLeastOnce ? body : loop;
        }
        }
        return then;
    }

    static bool consumes(const Node& node, char c)
    {
        switch (node.kind) {
        case Node::Kind::Literal: return lower(c) == node.literal;
        case Node::Kind::AnyChar: return true;
        default: return classAccepts(node, c);
        }
    }

    // The given states and every state reachable from them without consuming.
    std::vector<bool> closure(std::vector<int> pending) const
    {
        std::vector<bool> reached(m_states.size(), false);
        while (!pending.empty()) {
            const int id = pending.back();
            pending.pop_back();
            if (reached[id])
                continue;
            reached[id] = true;
            if (m_states[id].kind == StateKind::Branch)
                pending.insert(pending.end(), m_states[id].next.begin(), m_states[id].next.end());
        }
        return reached;
    }

    std::vector<State> m_states;
    int m_start = 0;
};

} // namespace

ResourceExpression::ResourceExpression(std::string_view expression) : m_root(Parser(expression).parseWhole())
{
}
ResourceExpression::~ResourceExpression() = default;
ResourceExpression::ResourceExpression(ResourceExpression&&) noexcept = default;
ResourceExpression& ResourceExpression::operator=(ResourceExpression&&) noexcept = default;

bool ResourceExpression::matches(std::string_view name) const
{
    return Automaton(*m_root).accepts(name);
}

} // namespace visa
