#include "platform/graphics/Canvas.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/PixelRows.h"

using namespace pixel_rows;

TColor TCanvas::Pixels(int x, int y) const { return bitmap_.PixelColor(x, y); }

void TCanvas::SetPixels(int x, int y, TColor color) {
    bitmap_.SetPixelColor(x, y, color);
    bitmap_.Changed();
}

void TCanvas::Plot(int x, int y, uint32_t value) {
    if (x < 0 || y < 0 || x >= bitmap_.Width() || y >= bitmap_.Height()) return;
    SetPixelValueAt(bitmap_.ScanLine(y), x, bitmap_.PixelFormat(), value);
}

void TCanvas::FillRect(const TRect& rect) {
    if (Brush.Style == bsClear) return;
    TRect r;
    if (!IntersectRect(r, rect, Rect(0, 0, bitmap_.Width(), bitmap_.Height()))) return;
    const uint32_t value = bitmap_.ColorToPixelValue(Brush.Color);
    const TPixelFormat f = bitmap_.PixelFormat();
    for (int y = r.Top; y < r.Bottom; ++y) {
        uint8_t* row = bitmap_.ScanLine(y);
        for (int x = r.Left; x < r.Right; ++x) SetPixelValueAt(row, x, f, value);
    }
    bitmap_.Changed();
}

void TCanvas::MoveTo(int x, int y) { PenPos = {x, y}; }

void TCanvas::FillDisc(int cx, int cy, int diameter, uint32_t value) {
    // A round pen tip: the pixels whose centres lie within the pen's circle.
    const int r2 = diameter * diameter;  // compared in quarter-pixel units: (2d)^2 <= diameter^2
    const int lo = -(diameter / 2), hi = (diameter - 1) / 2;
    for (int dy = lo; dy <= hi; ++dy)
        for (int dx = lo; dx <= hi; ++dx) {
            const int ex = 2 * dx - (diameter % 2 == 0 ? -1 : 0);
            const int ey = 2 * dy - (diameter % 2 == 0 ? -1 : 0);
            if (ex * ex + ey * ey <= r2) Plot(cx + dx, cy + dy, value);
        }
}

void TCanvas::LineTo(int x, int y) {
    const uint32_t value = bitmap_.ColorToPixelValue(Pen.Color);
    const int width = std::max(Pen.Width, 1);
    int x0 = PenPos.X, y0 = PenPos.Y;
    const int dx = std::abs(x - x0), dy = -std::abs(y - y0);
    const int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    // Bresenham; a 1-pixel pen leaves out the end point, a wider one stamps its round tip.
    while (true) {
        const bool atEnd = x0 == x && y0 == y;
        if (atEnd && width == 1) break;
        if (width == 1)
            Plot(x0, y0, value);
        else
            FillDisc(x0, y0, width, value);
        if (atEnd) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
    PenPos = {x, y};
    bitmap_.Changed();
}

void TCanvas::Draw(int x, int y, const TGraphic& graphic) {
    StretchDraw(Rect(x, y, x + graphic.Width(), y + graphic.Height()), graphic);
}

void TCanvas::StretchDraw(const TRect& rect, const TGraphic& graphic) {
    const auto* src = dynamic_cast<const TBitmap*>(&graphic);
    if (src == nullptr) {
        graphic.Draw(*this, rect);
        return;
    }
    if (src->Empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
    TRect clip;
    if (!IntersectRect(clip, rect, Rect(0, 0, bitmap_.Width(), bitmap_.Height()))) return;

    const int sw = src->Width(), sh = src->Height();
    const int rw = rect.Width(), rh = rect.Height();
    const bool keyed = src->Transparent();
    const TColor key = src->TransparentColor();
    uint8_t keyBgr[3] = {GetBValue(key), GetGValue(key), GetRValue(key)};
    if ((key & 0xFF000000) == 0x01000000) {
        const auto& table = src->ColorTable();
        const size_t i = static_cast<size_t>(key & 0xFFFF);
        const RGBQUAD q = i < table.size() ? table[i] : RGBQUAD{};
        keyBgr[0] = q.rgbBlue;
        keyBgr[1] = q.rgbGreen;
        keyBgr[2] = q.rgbRed;
    }

    // Source columns for each destination column, once.
    std::vector<int> column(static_cast<size_t>(clip.Width()));
    for (int x = clip.Left; x < clip.Right; ++x)
        column[static_cast<size_t>(x - clip.Left)] =
            static_cast<int>(static_cast<int64_t>(x - rect.Left) * sw / rw);

    std::vector<uint8_t> srcBgr(static_cast<size_t>(sw) * 3);
    std::vector<uint8_t> dstBgr(static_cast<size_t>(bitmap_.Width()) * 3);
    NearestIndex nearest(bitmap_.ColorTable());
    const TPixelFormat df = bitmap_.PixelFormat();
    int decodedRow = -1;
    for (int y = clip.Top; y < clip.Bottom; ++y) {
        const int sy = static_cast<int>(static_cast<int64_t>(y - rect.Top) * sh / rh);
        if (sy != decodedRow) {
            DecodeRow(src->ScanLine(sy), sw, src->PixelFormat(), src->ColorTable(), srcBgr.data());
            decodedRow = sy;
        }
        uint8_t* row = bitmap_.ScanLine(y);
        DecodeRow(row, bitmap_.Width(), df, bitmap_.ColorTable(), dstBgr.data());
        for (int x = clip.Left; x < clip.Right; ++x) {
            const uint8_t* s = &srcBgr[3 * static_cast<size_t>(column[static_cast<size_t>(x - clip.Left)])];
            if (keyed && std::memcmp(s, keyBgr, 3) == 0) continue;
            std::memcpy(&dstBgr[3 * static_cast<size_t>(x)], s, 3);
        }
        // Re-encode only the touched span, so untouched palette pixels keep their indexes.
        if (IsPaletteFormat(df)) {
            for (int x = clip.Left; x < clip.Right; ++x) {
                const uint8_t* p = &dstBgr[3 * static_cast<size_t>(x)];
                SetPixelIndexAt(row, x, df, nearest(p[0], p[1], p[2]));
            }
        } else {
            const int bytes = StorageBits(df) / 8;
            EncodeRow(&dstBgr[3 * static_cast<size_t>(clip.Left)], clip.Width(), df, nearest,
                      row + clip.Left * bytes);
        }
    }
    bitmap_.Changed();
}

void TCanvas::FloodFill(int x, int y, TColor color, TFillStyle style) {
    const int w = bitmap_.Width(), h = bitmap_.Height();
    if (x < 0 || y < 0 || x >= w || y >= h || Brush.Style == bsClear) return;
    const TPixelFormat f = bitmap_.PixelFormat();
    const uint32_t fill = bitmap_.ColorToPixelValue(Brush.Color);
    const TColor target = color & 0xFFFFFF;
    auto matches = [&](int px, int py) {
        const bool same = (bitmap_.PixelColor(px, py) & 0xFFFFFF) == target;
        return style == fsSurface ? same : !same;
    };
    if (!matches(x, y)) return;
    if (style == fsSurface && PixelValueAt(bitmap_.ScanLine(y), x, f) == fill &&
        (bitmap_.PixelColor(x, y) & 0xFFFFFF) == target) {
        // Filling an area with its own colour changes nothing.
        return;
    }

    // Scan-line fill, 4-connected; a visited map keeps fsBorder fills from looping.
    std::vector<uint8_t> done(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    std::vector<TPoint> stack{{x, y}};
    while (!stack.empty()) {
        const TPoint p = stack.back();
        stack.pop_back();
        const size_t base = static_cast<size_t>(p.Y) * static_cast<size_t>(w);
        if (done[base + static_cast<size_t>(p.X)] || !matches(p.X, p.Y)) continue;
        int left = p.X, right = p.X;
        while (left > 0 && !done[base + static_cast<size_t>(left - 1)] && matches(left - 1, p.Y))
            --left;
        while (right < w - 1 && !done[base + static_cast<size_t>(right + 1)] &&
               matches(right + 1, p.Y))
            ++right;
        uint8_t* row = bitmap_.ScanLine(p.Y);
        for (int i = left; i <= right; ++i) {
            done[base + static_cast<size_t>(i)] = 1;
            SetPixelValueAt(row, i, f, fill);
        }
        for (const int ny : {p.Y - 1, p.Y + 1}) {
            if (ny < 0 || ny >= h) continue;
            const size_t nbase = static_cast<size_t>(ny) * static_cast<size_t>(w);
            for (int i = left; i <= right; ++i)
                if (!done[nbase + static_cast<size_t>(i)] && matches(i, ny) &&
                    (i == left || done[nbase + static_cast<size_t>(i - 1)] || !matches(i - 1, ny)))
                    stack.push_back({i, ny});
        }
    }
    bitmap_.Changed();
}
