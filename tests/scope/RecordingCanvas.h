#pragma once

#include "scope/Canvas.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace scope::test {

// One drawing call as the canvas received it.
struct Primitive {
    enum class Kind { Clear, Line, TextPosition, Print };
    Kind kind = Kind::Clear;
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::optional<Bgr> colour; // lines only; empty means the foreground colour
    std::string text;

    static Primitive clear() { return {}; }
    static Primitive line(float x1, float y1, float x2, float y2, std::optional<Bgr> colour = {})
    {
        return {Kind::Line, x1, y1, x2, y2, colour, {}};
    }
    static Primitive textPosition(float x, float y) { return {Kind::TextPosition, x, y, 0, 0, {}, {}}; }
    static Primitive print(std::string text) { return {Kind::Print, 0, 0, 0, 0, {}, std::move(text)}; }

    bool operator==(const Primitive&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Primitive& p)
{
    switch (p.kind) {
    case Primitive::Kind::Clear: return os << "clear";
    case Primitive::Kind::Line:
        os << "line (" << p.x1 << ", " << p.y1 << ")-(" << p.x2 << ", " << p.y2 << ")";
        if (p.colour)
            os << " colour 0x" << std::hex << *p.colour << std::dec;
        return os;
    case Primitive::Kind::TextPosition: return os << "text position (" << p.x1 << ", " << p.y1 << ")";
    case Primitive::Kind::Print: return os << "print \"" << p.text << "\"";
    }
    return os;
}

// A canvas that keeps every call, with a settable size in the window's scale.
class RecordingCanvas : public Canvas {
public:
    explicit RecordingCanvas(double width = 519, double height = 353.25) : m_width(width), m_height(height) {}

    void clear() override { calls.push_back(Primitive::clear()); }
    void line(float x1, float y1, float x2, float y2) override { calls.push_back(Primitive::line(x1, y1, x2, y2)); }
    void line(float x1, float y1, float x2, float y2, Bgr colour) override
    {
        calls.push_back(Primitive::line(x1, y1, x2, y2, colour));
    }
    void setTextPosition(float x, float y) override { calls.push_back(Primitive::textPosition(x, y)); }
    void print(const std::string& text) override { calls.push_back(Primitive::print(text)); }
    double width() const override { return m_width; }
    double height() const override { return m_height; }

    std::vector<Primitive> calls;

private:
    double m_width;
    double m_height;
};

} // namespace scope::test
