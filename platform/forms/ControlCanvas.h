// The canvas of a control: the pen, brush and font drawing of an owner-drawn control, on the
// painter the control paints with.
#pragma once

#include "platform/graphics/Canvas.h"
#include "platform/graphics/Types.h"

#include <string>

class QPainter;
class TGraphic;

struct TFont {
    std::string Name;
    int Size = 9; // points, at the platform's 96 pixels per inch
    TColor Color = clBlack;
};

class TControlCanvas {
public:
    explicit TControlCanvas(QPainter& painter) : painter_(painter) {}
    TControlCanvas(const TControlCanvas&) = delete;
    TControlCanvas& operator=(const TControlCanvas&) = delete;

    TPen Pen;
    TBrush Brush;
    TFont Font;
    TPoint PenPos;

    // The rectangle's right and bottom lie outside it; a clear brush fills nothing.
    void FillRect(const TRect& rect);
    // The text's cell has its top-left corner at (X, Y); a solid brush fills behind the text.
    void TextOut(int x, int y, const std::string& text);
    // Draws a graphic at its own size.
    void Draw(int x, int y, const TGraphic& graphic);
    void MoveTo(int x, int y);
    // A line from PenPos to (X, Y) without its end point; PenPos moves to (X, Y).
    void LineTo(int x, int y);
    // The dotted frame of a focused item.
    void DrawFocusRect(const TRect& rect);

private:
    QPainter& painter_;
};
