// Makes the artwork of both programs: the player's liquid sprites ekiimg/eki0.bmp ..
// eki19.bmp, start picture, 32 x 32 position spot and button glyphs; the movie maker's logo
// avi_logo.bmp, its 105 x 105 start preview and its button glyphs (normal and disabled).
// Usage: mkassets <assets folder>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <utility>

namespace {

struct Rgb {
    int r, g, b;
};

// The four liquid colours, as the colour buttons show them.
constexpr Rgb GroupColours[4] = {
    {255, 255, 255}, {254, 254, 127}, {223, 223, 223}, {255, 230, 217}};
// Sprite sizes within a group of five, the first being the default sprite.
constexpr int SpriteSizes[5] = {16, 8, 12, 24, 32};

int Clamp255(double v) {
    return std::clamp(static_cast<int>(std::lround(v)), 0, 255);
}

// A soft round bump: 1 at (cx, cy), falling off with the given radius.
double Bump(double x, double y, double cx, double cy, double radius) {
    return std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (radius * radius));
}

// A film of liquid filling its whole rectangle, since every drop blends the whole square: the
// body colour right up to the edges, a faint deeper tone low in the middle where the liquid is
// thickest, a soft highlight up and to the left and a small glint low on the right. Nothing
// darkens the rim, so a blended square shows no frame.
QImage Sprite(const Rgb& colour, int size) {
    QImage image(size, size, QImage::Format_RGB888);
    const double c = (size - 1) / 2.0, r = size / 2.0;
    // Weight 0 on the outer ring of pixels: the edges keep the body colour exactly.
    auto inside = [&](double x, double y) {
        const double d = std::max(std::abs(x - c), std::abs(y - c)) / c;
        return std::clamp((1.0 - d) * 3.0, 0.0, 1.0);
    };
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double w = inside(x, y);
            const double deep = 0.06 * w * Bump(x, y, c + 0.12 * r, c + 0.18 * r, 0.75 * r);
            const double light = w * std::min(1.0, 0.85 * Bump(x, y, c - 0.32 * r, c - 0.34 * r,
                                                               std::max(1.2, 0.30 * r)) +
                                                       0.45 * Bump(x, y, c + 0.36 * r, c + 0.30 * r,
                                                                   std::max(0.8, 0.14 * r)));
            auto channel = [&](int v) {
                return Clamp255(v * (1.0 - deep) * (1.0 - light) + 255.0 * light);
            };
            image.setPixel(x, y, qRgb(channel(colour.r), channel(colour.g), channel(colour.b)));
        }
    }
    return image;
}

// The position spot: white (transparent) ground, a red and yellow triangle with a black outline
// in each corner, and a red bar two pixels wide with black edges down the middle. Pixel (0, 0)
// stays white: it is the key colour.
QImage Spot() {
    QImage image(32, 32, QImage::Format_RGB888);
    image.fill(qRgb(255, 255, 255));
    const QRgb black = qRgb(0, 0, 0), red = qRgb(255, 0, 0), yellow = qRgb(255, 255, 0);
    constexpr int Leg = 8;
    for (int v = 0; v <= Leg; ++v) {
        for (int u = 0; u + v <= Leg; ++u) {
            const bool edge = u == 0 || v == 0 || u + v == Leg;
            const QRgb colour = edge ? black : (u + v <= Leg / 2 ? red : yellow);
            image.setPixel(1 + u, 1 + v, colour);
            image.setPixel(30 - u, 1 + v, colour);
            image.setPixel(1 + u, 30 - v, colour);
            image.setPixel(30 - u, 30 - v, colour);
        }
    }
    for (int y = 0; y < 32; ++y) {
        image.setPixel(14, y, black);
        image.setPixel(15, y, red);
        image.setPixel(16, y, red);
        image.setPixel(17, y, black);
    }
    return image;
}

// A ground shading from one colour at the top-left corner to another at End.
void PaintGround(QPainter& p, const QRect& rect, QPointF end, QColor first, QColor last) {
    QLinearGradient ground(QPointF(0, 0), end);
    ground.setColorAt(0, first);
    ground.setColorAt(1, last);
    p.fillRect(rect, ground);
}

// A line of bold text in the product's font.
void PaintTitle(QPainter& p, const QRect& box, int pixelSize, QColor colour, const QString& text,
                int alignment) {
    QFont font("Noto Sans CJK JP");
    font.setPixelSize(pixelSize);
    font.setBold(true);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(box, alignment, text);
}

QImage StartPicture() {
    QImage image(401, 400, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    PaintGround(p, image.rect(), QPointF(0, 400), QColor(252, 246, 238), QColor(226, 214, 230));

    // A few drops running down, in the liquid's colours.
    const QColor drops[] = {QColor(250, 250, 250), QColor(254, 254, 127), QColor(223, 223, 223),
                            QColor(255, 230, 217)};
    for (int i = 0; i < 9; ++i) {
        const double x = 40 + i * 40, top = 20 + (i * 37) % 60, len = 40 + (i * 53) % 90;
        p.setPen(Qt::NoPen);
        p.setBrush(drops[i % 4].darker(108));
        p.drawRoundedRect(QRectF(x - 3, top, 6, len), 3, 3);
        p.drawEllipse(QPointF(x, top + len), 8, 9);
        p.setBrush(QColor(255, 255, 255, 200));
        p.drawEllipse(QPointF(x - 3, top + len - 3), 2.5, 2.5);
    }

    PaintTitle(p, QRect(0, 150, 401, 70), 52, QColor(90, 60, 110), "Morvane X", Qt::AlignCenter);

    QFont body("Noto Sans CJK JP");
    body.setPixelSize(14);
    p.setFont(body);
    p.setPen(QColor(50, 40, 60));
    p.drawText(QRect(20, 240, 361, 120), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
               QString::fromUtf8("画像ファイルをこのウィンドウにドラッグするか、\n"
                                 "[画像読み込み] ボタンを押して\n"
                                 "画像をアルバムに登録してください。"));
    return image;
}

QImage Canvas16() {
    QImage image(16, 16, QImage::Format_RGB888);
    image.fill(qRgb(192, 192, 192));
    return image;
}

QImage HelpGlyph() {
    QImage image = Canvas16();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 128), 1));
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    QFont f("Noto Sans CJK JP");
    f.setPixelSize(12);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, "?");
    return image;
}

QImage MovieGlyph() {
    QImage image = Canvas16();
    QPainter p(&image);
    p.fillRect(QRect(1, 2, 14, 12), QColor(32, 32, 32));
    for (int x = 2; x < 15; x += 3) {
        p.fillRect(QRect(x, 3, 2, 2), QColor(230, 230, 230));
        p.fillRect(QRect(x, 11, 2, 2), QColor(230, 230, 230));
    }
    p.fillRect(QRect(3, 6, 10, 4), QColor(120, 170, 230));
    return image;
}

QImage PenGlyph() {
    QImage image = Canvas16();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.moveTo(3, 13);
    body.lineTo(4, 10);
    body.lineTo(11, 3);
    body.lineTo(13, 5);
    body.lineTo(6, 12);
    body.closeSubpath();
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(QColor(240, 200, 60));
    p.drawPath(body);
    return image;
}

// 8 x 8: a 6 x 6 square of the colour in a one-pixel dark frame.
QImage ColourGlyph(const Rgb& colour) {
    QImage image(8, 8, QImage::Format_RGB888);
    image.fill(qRgb(64, 64, 64));
    for (int y = 1; y < 7; ++y)
        for (int x = 1; x < 7; ++x)
            image.setPixel(x, y, qRgb(colour.r, colour.g, colour.b));
    return image;
}

// The movie maker's logo, blended over the top-left corner of the first frames of a movie.
QImage MovieLogo() {
    QImage image(160, 40, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    PaintGround(p, image.rect(), QPointF(160, 40), QColor(90, 60, 110), QColor(40, 30, 60));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 230, 217));
    p.drawEllipse(QPointF(20, 22), 9, 10);
    p.drawRoundedRect(QRectF(17, 4, 6, 14), 3, 3);
    PaintTitle(p, QRect(36, 0, 124, 40), 20, QColor(252, 246, 238), "Morvane M",
               Qt::AlignVCenter | Qt::AlignLeft);
    return image;
}

// The preview before any frame is listed, in 256 colours.
QImage StartPreview() {
    QImage image(105, 105, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(image.rect(), QColor(40, 30, 60));
    for (int x = 4; x < 105; x += 12) {
        p.fillRect(QRect(x, 6, 6, 6), QColor(230, 230, 230));
        p.fillRect(QRect(x, 93, 6, 6), QColor(230, 230, 230));
    }
    p.fillRect(QRect(6, 18, 93, 69), QColor(226, 214, 230));
    PaintTitle(p, QRect(6, 18, 93, 69), 14, QColor(90, 60, 110), "AVI", Qt::AlignCenter);
    p.end();
    return image.convertToFormat(QImage::Format_Indexed8);
}

// A glyph painted over a ground: the 16 x 16 grey one unless another is given.
QImage PaintedGlyph(const std::function<void(QPainter&)>& paint, QImage ground = Canvas16()) {
    QPainter p(&ground);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    p.end();
    return ground;
}

// The movie maker's buttons: a folder, the film with a record spot, a stop square, a play
// triangle and a cross.
QImage FolderGlyph() {
    return PaintedGlyph([](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QColor(96, 64, 0));
        p.setBrush(QColor(240, 200, 80));
        p.drawRect(QRect(1, 5, 13, 9));
        p.drawRect(QRect(1, 3, 5, 2));
    });
}
QImage MakeGlyph() {
    return PaintedGlyph(
        [](QPainter& p) {
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(230, 60, 60));
            p.drawEllipse(QRectF(9, 8, 6, 6));
        },
        MovieGlyph());
}
QImage StopGlyph() {
    return PaintedGlyph([](QPainter& p) { p.fillRect(QRect(3, 3, 10, 10), QColor(200, 30, 30)); });
}
QImage RunGlyph() {
    return PaintedGlyph([](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 140, 50));
        p.drawPolygon(QPolygonF({QPointF(4, 2), QPointF(13, 8), QPointF(4, 14)}));
    });
}
QImage DeleteGlyph() {
    return PaintedGlyph([](QPainter& p) {
        p.setPen(QPen(QColor(180, 20, 20), 2.5));
        p.drawLine(QPointF(3, 3), QPointF(13, 13));
        p.drawLine(QPointF(13, 3), QPointF(3, 13));
    });
}

// The disabled state of a glyph: its grey shades, lightened, on the same ground.
QImage DisabledGlyph(const QImage& glyph) {
    QImage image = glyph.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int grey = qGray(image.pixel(x, y));
            const int light = 128 + grey / 2;
            image.setPixel(x, y, qRgb(light, light, light));
        }
    return image;
}

bool Save(const QImage& image, const QString& path, const char* format) {
    if (image.save(path, format)) return true;
    std::fprintf(stderr, "mkassets: cannot write %s\n", path.toLocal8Bit().constData());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkassets <assets folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath("ekiimg") || !out.mkpath("glyphs")) return 1;

    bool ok = true;
    for (int group = 0; group < 4; ++group)
        for (int k = 0; k < 5; ++k)
            ok &= Save(Sprite(GroupColours[group], SpriteSizes[k]),
                       out.filePath(QString("ekiimg/eki%1.bmp").arg(group * 5 + k)), "BMP");
    ok &= Save(Spot(), out.filePath("spot.png"), "PNG");
    ok &= Save(StartPicture(), out.filePath("start.png"), "PNG");
    ok &= Save(HelpGlyph(), out.filePath("glyphs/help.png"), "PNG");
    ok &= Save(MovieGlyph(), out.filePath("glyphs/mvm.png"), "PNG");
    ok &= Save(PenGlyph(), out.filePath("glyphs/pen.png"), "PNG");
    const char* names[4] = {"white", "yellow", "grey", "pink"};
    for (int i = 0; i < 4; ++i)
        ok &= Save(ColourGlyph(GroupColours[i]),
                   out.filePath(QString("glyphs/%1.png").arg(names[i])), "PNG");
    ok &= Save(MovieLogo(), out.filePath("avi_logo.bmp"), "BMP");
    ok &= Save(StartPreview(), out.filePath("preview.png"), "PNG");
    const std::pair<const char*, QImage> movieGlyphs[] = {{"load", FolderGlyph()},
                                                          {"make", MakeGlyph()},
                                                          {"stop", StopGlyph()},
                                                          {"run", RunGlyph()},
                                                          {"del", DeleteGlyph()}};
    for (const auto& [name, glyph] : movieGlyphs) {
        ok &= Save(glyph, out.filePath(QString("glyphs/%1.png").arg(name)), "PNG");
        ok &=
            Save(DisabledGlyph(glyph), out.filePath(QString("glyphs/%1_off.png").arg(name)), "PNG");
    }
    return ok ? 0 : 1;
}
