#include "platform/forms/ControlCanvas.h"

#include "platform/forms/BitmapImage.h"
#include "platform/graphics/Bitmap.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <cstdlib>

namespace {

constexpr int PixelsPerInch = 96;
constexpr int PointsPerInch = 72;

QColor ToQColor(TColor c) {
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

QFont ToQFont(const TFont& font, const QFont& base) {
    QFont f = base;
    if (!font.Name.empty()) f.setFamily(QString::fromStdString(font.Name));
    f.setPixelSize(std::max(1, (font.Size * PixelsPerInch + PointsPerInch / 2) / PointsPerInch));
    return f;
}

} // namespace

void TControlCanvas::FillRect(const TRect& rect) {
    if (Brush.Style == bsClear || IsRectEmpty(rect)) return;
    painter_.fillRect(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()),
                      ToQColor(Brush.Color));
}

void TControlCanvas::TextOut(int x, int y, const std::string& text) {
    const QString s = QString::fromStdString(text);
    painter_.setFont(ToQFont(Font, painter_.font()));
    const QFontMetrics metrics(painter_.font());
    const QRect cell(x, y, metrics.horizontalAdvance(s), metrics.height());
    if (Brush.Style == bsSolid) painter_.fillRect(cell, ToQColor(Brush.Color));
    painter_.setPen(ToQColor(Font.Color));
    painter_.drawText(QPoint(x, y + metrics.ascent()), s);
    PenPos = {x + cell.width(), y};
}

void TControlCanvas::Draw(int x, int y, const TGraphic& graphic) {
    if (graphic.Empty()) return;
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic)) {
        painter_.drawImage(QPoint(x, y), BitmapToQImage(*bitmap));
        return;
    }
    TBitmap drawn;
    drawn.Assign(&graphic);
    painter_.drawImage(QPoint(x, y), BitmapToQImage(drawn));
}

void TControlCanvas::MoveTo(int x, int y) {
    PenPos = {x, y};
}

// Bresenham's points from PenPos up to, not including, the end, as the platform draws them.
void TControlCanvas::LineTo(int x, int y) {
    int px = PenPos.X, py = PenPos.Y;
    const int dx = std::abs(x - px), dy = -std::abs(y - py);
    const int sx = px < x ? 1 : -1, sy = py < y ? 1 : -1;
    int err = dx + dy;
    QPolygon points;
    while (px != x || py != y) {
        points << QPoint(px, py);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            px += sx;
        }
        if (e2 <= dx) {
            err += dx;
            py += sy;
        }
    }
    if (!points.isEmpty()) {
        painter_.save();
        painter_.setRenderHint(QPainter::Antialiasing, false);
        painter_.setPen(QPen(ToQColor(Pen.Color), 1));
        painter_.drawPoints(points);
        painter_.restore();
    }
    PenPos = {x, y};
}

void TControlCanvas::DrawFocusRect(const TRect& rect) {
    if (IsRectEmpty(rect)) return;
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(ToQColor(Font.Color), 1, Qt::DotLine);
    painter_.setPen(pen);
    painter_.setBrush(Qt::NoBrush);
    painter_.drawRect(QRect(rect.Left, rect.Top, rect.Width() - 1, rect.Height() - 1));
    painter_.restore();
}
