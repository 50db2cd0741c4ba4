#include "platform/graphics/Canvas.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/PixelRows.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace pixel_rows;

namespace {

// The colour as the bitmap can hold it: 15- and 16-bit pixels keep fewer bits per channel,
// so their colours are compared after the same rounding.
RGBQUAD HeldColor(const TBitmap& bitmap, TColor color) {
    RGBQUAD q = ColorQuad(color, bitmap.ColorTable());
    const TPixelFormat f = bitmap.PixelFormat();
    if (f == pf15bit || f == pf16bit || f == pfCustom) {
        uint8_t bgr[3] = {q.rgbBlue, q.rgbGreen, q.rgbRed};
        uint8_t word[2];
        NearestIndex none(bitmap.ColorTable());
        EncodeRow(bgr, 1, f, none, word);
        DecodeRow(word, 1, f, bitmap.ColorTable(), bgr);
        q = {bgr[0], bgr[1], bgr[2], 0};
    }
    return q;
}

bool SameBgr(const uint8_t* bgr, const RGBQUAD& q) {
    return bgr[0] == q.rgbBlue && bgr[1] == q.rgbGreen && bgr[2] == q.rgbRed;
}

} // namespace

TColor TCanvas::Pixels(int x, int y) const {
    return bitmap_.PixelColor(x, y);
}

void TCanvas::SetPixels(int x, int y, TColor color) {
    bitmap_.SetPixelColor(x, y, color);
    bitmap_.Changed();
}

void TCanvas::Plot(int64_t x, int64_t y, uint32_t value) {
    if (x < 0 || y < 0 || x >= bitmap_.Width() || y >= bitmap_.Height()) return;
    SetPixelValueAt(bitmap_.ScanLine(static_cast<int>(y)), static_cast<int>(x),
                    bitmap_.PixelFormat(), value);
}

void TCanvas::FillRect(const TRect& rect) {
    if (Brush.Style == bsClear) return;
    TRect r;
    if (!IntersectRect(r, rect, Rect(0, 0, bitmap_.Width(), bitmap_.Height()))) return;
    const uint32_t value = bitmap_.ColorToPixelValue(Brush.Color);
    const TPixelFormat f = bitmap_.PixelFormat();
    for (int y = r.Top; y < r.Bottom; ++y) {
        uint8_t* row = bitmap_.ScanLine(y);
        for (int x = r.Left; x < r.Right; ++x)
            SetPixelValueAt(row, x, f, value);
    }
    bitmap_.Changed();
}

void TCanvas::MoveTo(int x, int y) {
    PenPos = {x, y};
}

// A round pen tip: the pixels whose centres lie within the pen's circle.
void TCanvas::FillDisc(int64_t cx, int64_t cy, int diameter, uint32_t value) {
    const int64_t lo = -(diameter / 2), hi = (diameter - 1) / 2;
    const int64_t even = diameter % 2 == 0 ? 1 : 0; // even pens centre between pixels
    const int64_t r2 = static_cast<int64_t>(diameter) * diameter;
    for (int64_t dy = lo; dy <= hi; ++dy)
        for (int64_t dx = lo; dx <= hi; ++dx) {
            // Doubled offsets from the centre, compared with the doubled radius.
            const int64_t ex = 2 * dx + even, ey = 2 * dy + even;
            if (ex * ex + ey * ey <= r2) Plot(cx + dx, cy + dy, value);
        }
}

void TCanvas::LineTo(int x, int y) {
    const uint32_t value = bitmap_.ColorToPixelValue(Pen.Color);
    const int width = std::max(Pen.Width, 1);
    int64_t x0 = PenPos.X, y0 = PenPos.Y;
    const int64_t x1 = x, y1 = y;
    PenPos = {x, y};
    // Nothing of a line whose pen stays outside the bitmap is drawn.
    const int64_t reach = width / 2 + 1;
    if (std::max(x0, x1) < -reach || std::max(y0, y1) < -reach ||
        std::min(x0, x1) >= bitmap_.Width() + reach || std::min(y0, y1) >= bitmap_.Height() + reach)
        return;
    const int64_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t err = dx + dy;
    // Bresenham; a 1-pixel pen leaves out the end point, a wider one is dragged to it.
    while (true) {
        const bool atEnd = x0 == x1 && y0 == y1;
        if (atEnd && width == 1) break;
        if (width == 1)
            Plot(x0, y0, value);
        else
            FillDisc(x0, y0, width, value);
        if (atEnd) break;
        const int64_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
    bitmap_.Changed();
}

void TCanvas::Draw(int x, int y, const TGraphic& graphic) {
    StretchDraw(Rect(x, y, x + graphic.Width(), y + graphic.Height()), graphic);
}

void TCanvas::StretchDraw(const TRect& rect, const TGraphic& graphic) {
    const auto* source = dynamic_cast<const TBitmap*>(&graphic);
    if (source == nullptr) {
        graphic.Draw(*this, rect);
        return;
    }
    if (source->Empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
    TRect clip;
    if (!IntersectRect(clip, rect, Rect(0, 0, bitmap_.Width(), bitmap_.Height()))) return;
    // A bitmap drawn onto itself is read from a copy.
    std::unique_ptr<TBitmap> copy;
    if (source == &bitmap_) {
        copy = std::make_unique<TBitmap>();
        copy->Assign(source);
        source = copy.get();
    }
    if (!CopySpans(rect, clip, *source)) CopyPixels(rect, clip, *source);
    bitmap_.Changed();
}

// At the source's own size, with nothing keyed out and values stored alike, whole spans of
// rows are copied (the frame loop draws full pictures this way).
bool TCanvas::CopySpans(const TRect& rect, const TRect& clip, const TBitmap& src) {
    const TPixelFormat sf = src.PixelFormat(), df = bitmap_.PixelFormat();
    const int bits = StorageBits(sf);
    if (src.Transparent() || rect.Width() != src.Width() || rect.Height() != src.Height() ||
        bits < 8 || bits != StorageBits(df) || (sf != df && bits != 24) ||
        (IsPaletteFormat(df) && src.ColorTable() != bitmap_.ColorTable()))
        return false;
    const auto bytes = static_cast<size_t>(bits / 8);
    const auto span = static_cast<size_t>(clip.Width()) * bytes;
    const auto from = static_cast<size_t>(clip.Left - rect.Left) * bytes;
    for (int y = clip.Top; y < clip.Bottom; ++y)
        std::memcpy(bitmap_.ScanLine(y) + static_cast<size_t>(clip.Left) * bytes,
                    src.ScanLine(y - rect.Top) + from, span);
    return true;
}

// Nearest neighbour: destination pixel (x, y) takes source pixel
// ((x - Left) * SourceWidth / Width, (y - Top) * SourceHeight / Height).
void TCanvas::CopyPixels(const TRect& rect, const TRect& clip, const TBitmap& src) {
    const int sw = src.Width(), sh = src.Height();
    const int64_t rw = rect.Width(), rh = rect.Height();
    const bool keyed = src.Transparent();
    const RGBQUAD key = HeldColor(src, src.TransparentColor());

    std::vector<int> column(static_cast<size_t>(clip.Width()));
    for (int x = clip.Left; x < clip.Right; ++x)
        column[static_cast<size_t>(x - clip.Left)] =
            static_cast<int>((int64_t{x} - rect.Left) * sw / rw);

    // Each source row once: its pixels as the destination stores them, and which are keyed out.
    const TPixelFormat df = bitmap_.PixelFormat();
    NearestIndex nearest(bitmap_.ColorTable());
    std::vector<uint8_t> bgr(static_cast<size_t>(sw) * 3);
    std::vector<uint8_t> encoded(static_cast<size_t>(sw) * 4 + 4);
    std::vector<uint32_t> values(static_cast<size_t>(sw));
    std::vector<uint8_t> skip(static_cast<size_t>(sw));
    int decodedRow = -1;
    for (int y = clip.Top; y < clip.Bottom; ++y) {
        const int sy = static_cast<int>((int64_t{y} - rect.Top) * sh / rh);
        if (sy != decodedRow) {
            DecodeRow(src.ScanLine(sy), sw, src.PixelFormat(), src.ColorTable(), bgr.data());
            EncodeRow(bgr.data(), sw, df, nearest, encoded.data());
            for (int i = 0; i < sw; ++i) {
                values[static_cast<size_t>(i)] = PixelValueAt(encoded.data(), i, df);
                skip[static_cast<size_t>(i)] =
                    keyed && SameBgr(&bgr[3 * static_cast<size_t>(i)], key);
            }
            decodedRow = sy;
        }
        uint8_t* row = bitmap_.ScanLine(y);
        for (int x = clip.Left; x < clip.Right; ++x) {
            const auto c = static_cast<size_t>(column[static_cast<size_t>(x - clip.Left)]);
            if (!skip[c]) SetPixelValueAt(row, x, df, values[c]);
        }
    }
}

void TCanvas::FloodFill(int x, int y, TColor color, TFillStyle style) {
    const int w = bitmap_.Width(), h = bitmap_.Height();
    if (x < 0 || y < 0 || x >= w || y >= h || Brush.Style == bsClear) return;
    const TPixelFormat f = bitmap_.PixelFormat();
    const RGBQUAD target = HeldColor(bitmap_, color);
    const RGBQUAD brush = HeldColor(bitmap_, Brush.Color);
    const uint32_t fill = bitmap_.ColorToPixelValue(Brush.Color);
    // Filling an area with the colour it has changes nothing.
    if (style == fsSurface && brush == target) return;

    // Per pixel: 0 not looked at, 1 to fill, 2 not to fill or filled. Rows are read on demand.
    std::vector<uint8_t> state(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    std::vector<uint8_t> bgr(static_cast<size_t>(w) * 3);
    std::vector<bool> rowRead(static_cast<size_t>(h), false);
    auto readRow = [&](int ry) {
        if (rowRead[static_cast<size_t>(ry)]) return;
        rowRead[static_cast<size_t>(ry)] = true;
        DecodeRow(bitmap_.ScanLine(ry), w, f, bitmap_.ColorTable(), bgr.data());
        uint8_t* s = &state[static_cast<size_t>(ry) * static_cast<size_t>(w)];
        for (int i = 0; i < w; ++i) {
            const bool same = SameBgr(&bgr[3 * static_cast<size_t>(i)], target);
            s[i] = same == (style == fsSurface) ? 1 : 2;
        }
    };
    auto inArea = [&](int px, int py) {
        return state[static_cast<size_t>(py) * static_cast<size_t>(w) + static_cast<size_t>(px)] ==
               1;
    };

    readRow(y);
    if (!inArea(x, y)) return;
    // Scan-line fill, 4-connected: each span is filled, then the spans above and below it are
    // queued once per run.
    std::vector<TPoint> stack{{x, y}};
    while (!stack.empty()) {
        const TPoint p = stack.back();
        stack.pop_back();
        if (!inArea(p.X, p.Y)) continue;
        int left = p.X, right = p.X;
        while (left > 0 && inArea(left - 1, p.Y))
            --left;
        while (right < w - 1 && inArea(right + 1, p.Y))
            ++right;
        uint8_t* row = bitmap_.ScanLine(p.Y);
        uint8_t* s = &state[static_cast<size_t>(p.Y) * static_cast<size_t>(w)];
        for (int i = left; i <= right; ++i) {
            s[i] = 2;
            SetPixelValueAt(row, i, f, fill);
        }
        for (const int ny : {p.Y - 1, p.Y + 1}) {
            if (ny < 0 || ny >= h) continue;
            readRow(ny);
            for (int i = left; i <= right; ++i)
                if (inArea(i, ny) && (i == left || !inArea(i - 1, ny))) stack.push_back({i, ny});
        }
    }
    bitmap_.Changed();
}
