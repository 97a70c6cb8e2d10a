// Draws the about box's pictures into a folder (the program folder's "pics/"), at build time:
// the program's logo and the credits of the libraries Tavrin is built on. Every picture is made
// here, from shapes and text; none is taken from elsewhere.
//     gen_pics <folder>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <cstdlib>

namespace {

QImage Canvas(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QFont Font(int pixels, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// A rounded shape filled from one colour to another along the line from `from` to `to`.
void RoundedGradient(QPainter& p, const QRectF& rect, double radius, QPointF from, QPointF to, const QColor& first,
                     const QColor& last, const QPen& outline = Qt::NoPen) {
    QLinearGradient fill(from, to);
    fill.setColorAt(0, first);
    fill.setColorAt(1, last);
    p.setPen(outline);
    p.setBrush(fill);
    p.drawRoundedRect(rect, radius, radius);
}

// A television with a listings grid on its screen, on two feet, and the program's name below.
QImage Logo() {
    QImage image = Canvas(113, 137);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // aerials
    p.setPen(QPen(QColor(0x33, 0x44, 0x66), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(56, 22), QPointF(36, 4));
    p.drawLine(QPointF(56, 22), QPointF(78, 6));
    // cabinet
    RoundedGradient(p, QRectF(4, 22, 105, 76), 12, {0, 20}, {0, 100}, QColor(0x4a, 0x6f, 0xa5), QColor(0x22, 0x3b, 0x66));
    // screen with the grid of a listings page
    p.setBrush(QColor(0xf4, 0xf7, 0xfb));
    p.drawRoundedRect(QRectF(13, 30, 87, 60), 6, 6);
    const QColor rows[4] = {QColor(0xf2, 0x9e, 0x38), QColor(0x5c, 0xb8, 0x5c), QColor(0x4a, 0x90, 0xd9),
                            QColor(0xd9, 0x53, 0x4f)};
    for (int r = 0; r < 4; ++r) {
        p.setBrush(QColor(0x9a, 0xa8, 0xbd));
        p.drawRect(QRectF(18, 35 + r * 13, 14, 9));
        p.setBrush(rows[r]);
        const double split = 40 + ((r * 17) % 30);
        p.drawRect(QRectF(35, 35 + r * 13, split - 35, 9));
        p.setBrush(rows[(r + 2) % 4].lighter(130));
        p.drawRect(QRectF(split + 2, 35 + r * 13, 93 - split, 9));
    }
    // feet
    p.setBrush(QColor(0x22, 0x3b, 0x66));
    p.drawRect(QRectF(24, 98, 10, 8));
    p.drawRect(QRectF(79, 98, 10, 8));
    // name
    p.setPen(QColor(0x22, 0x3b, 0x66));
    p.setFont(Font(22, true));
    p.drawText(QRectF(0, 106, 113, 31), Qt::AlignCenter, QStringLiteral("Tavrin"));
    return image;
}

// A credit: a rounded badge with a small line above the library's name.
QImage Badge(int width, int height, const QString& above, const QString& name, const QColor& colour,
             int namePixels) {
    QImage image = Canvas(width, height);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    RoundedGradient(p, QRectF(0.5, 0.5, width - 1, height - 1), std::min(width, height) / 6.0, {0, 0},
                    QPointF(0, height), colour.lighter(125), colour.darker(115), QPen(colour.darker(150), 1));
    p.setPen(Qt::white);
    const int aboveHeight = above.isEmpty() ? 0 : height / 3;
    if (!above.isEmpty()) {
        p.setFont(Font(std::max(8, height / 6), false));
        p.drawText(QRectF(0, height / 12.0, width, aboveHeight), Qt::AlignCenter, above);
    }
    p.setFont(Font(namePixels, true));
    p.drawText(QRectF(0, aboveHeight, width, height - aboveHeight - height / 12.0), Qt::AlignCenter, name);
    return image;
}

// The scripting language's credit: a round emblem with its name.
QImage LuaCredit() {
    QImage image = Canvas(150, 150);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    RoundedGradient(p, QRectF(4, 4, 142, 142), 24, {0, 0}, {150, 150}, QColor(0x3f, 0x51, 0xb5), QColor(0x1a, 0x23, 0x7e));
    p.setPen(QColor(0xc5, 0xca, 0xe9));
    p.setFont(Font(14, false));
    p.drawText(QRectF(0, 22, 150, 24), Qt::AlignCenter, QStringLiteral("scripts run by"));
    p.setPen(Qt::white);
    p.setFont(Font(52, true));
    p.drawText(QRectF(0, 44, 150, 70), Qt::AlignCenter, QStringLiteral("Lua"));
    p.setPen(QColor(0xc5, 0xca, 0xe9));
    p.setFont(Font(13, false));
    p.drawText(QRectF(0, 108, 150, 22), Qt::AlignCenter, QStringLiteral("lua.org"));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_pics <folder>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");   // fonts without a display
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "gen_pics: cannot create %s\n", argv[1]);
        return 1;
    }
    const struct {
        const char* name;
        QImage image;
    } pictures[] = {
        {"tavrin 128.png", Logo()},
        {"builtwithcurl.png", Badge(256, 96, QStringLiteral("downloads by"), QStringLiteral("libcurl"),
                                    QColor(0x0d, 0x7d, 0x6f), 40)},
        {"builtwithqt.png", Badge(62, 31, {}, QStringLiteral("Qt 6"), QColor(0x2e, 0x8b, 0x3a), 15)},
        {"lua.png", LuaCredit()},
    };
    for (const auto& picture : pictures) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(picture.name);
        if (!picture.image.save(path, "PNG")) {
            std::fprintf(stderr, "gen_pics: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
