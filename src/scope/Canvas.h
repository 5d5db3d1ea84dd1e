#pragma once

#include <cstdint>
#include <string>

namespace scope {

// Colours are 0x00BBGGRR, red in the lowest byte.
using Bgr = std::uint32_t;

// The drawing surface of the scope picture, in the picture's own scale
// (origin top left, y downwards). Coordinates are single precision.
class Canvas {
public:
    virtual ~Canvas() = default;
    // Resets the picture to its background colour.
    virtual void clear() = 0;
    // A line in the foreground colour.
    virtual void line(float x1, float y1, float x2, float y2) = 0;
    virtual void line(float x1, float y1, float x2, float y2, Bgr colour) = 0;
    virtual void setTextPosition(float x, float y) = 0;
    // Prints text at the text position, in the foreground colour and window font.
    virtual void print(const std::string& text) = 0;
    // Size of the picture in its window's scale (points): 519 wide for the design size.
    virtual double width() const = 0;
    virtual double height() const = 0;
};

} // namespace scope
