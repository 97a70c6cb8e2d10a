#include "desktop/uabout.h"

#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include <string>

#include "desktop/sharedcontrols.h"
#include "engine/uluagrabbers.h"
#include "util/shwmsg.h"

namespace {

const char* const kReleaseDate = "09/10/09";
const char* const kContact = "tavrin@tavrin.invalid";

QString Address(const char* path) { return QString::fromLatin1(kTavrinWebAddress) + QLatin1String(path); }

// A picture that opens a web address when clicked.
TURLLabel* LinkedPicture(QWidget* parent, const char* name, const char* target) {
    auto* picture = Named(new TURLLabel(parent, {}, QLatin1String(target)), name);
    picture->setToolTip(QLatin1String(target));
    return picture;
}

}  // namespace

// Image1, Image3, Image4, Image2.
const char* const TFAbout::kPictures[4] = {"pics/builtwithcurl.png", "pics/tavrin 128.png", "pics/builtwithqt.png",
                                           "pics/lua.png"};

TFAbout::TFAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FAbout"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(kFixedDialogFlags);

    Label5 = Named(new QLabel(this), "Label5");
    Label7 = Named(new QLabel(this), "Label7");
    const QString mail = QStringLiteral("mailto:%1?subject=MERROW:&body=Please leave the 'MERROW:' in the subject")
                             .arg(QLatin1String(kContact));
    auto* label4 = Named(new TURLLabel(this, QStringLiteral("The Tavrin developers (click to email)"), mail),
                         "Label4");
    QFont big = label4->font();
    big.setPointSizeF(big.pointSizeF() * 1.25);
    label4->setFont(big);
    auto* label6 = Named(new TURLLabel(this,
                                       QStringLiteral("Check the Tavrin web site for news and updates: %1")
                                           .arg(Address("")),
                                       Address("")),
                         "Label6");
    label6->setWordWrap(true);
    Image4 = LinkedPicture(this, "Image4", "https://www.qt.io/");
    Image3 = Named(new QLabel(this), "Image3");
    Image3->setAttribute(Qt::WA_TranslucentBackground);

    auto* credits = Named(new QGroupBox(QStringLiteral("Credits"), this), "GroupBox1");
    Image1 = LinkedPicture(credits, "Image1", "https://curl.se/");
    Image2 = LinkedPicture(credits, "Image2", "https://www.lua.org/");
    auto* label3 = Named(new TURLLabel(credits, QStringLiteral("PNG pictures read with libpng"),
                                       QStringLiteral("http://www.libpng.org/pub/png/libpng.html")),
                         "Label3");
    auto* label1 = Named(new TURLLabel(credits, QStringLiteral("Pictures drawn with Qt's QPainter"),
                                       QStringLiteral("https://doc.qt.io/qt-6/qpainter.html")),
                         "Label1");
    auto* ok = Named(new QPushButton(QStringLiteral("OK"), this), "Button1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // A client area of 443 × 550, moved down as the fonts need.
    Label5->setText(QStringLiteral("Tavrin Version %1").arg(QLatin1String(kTavrinVersion)));
    TRowPlacer rows;
    rows.Row(8, 137, {{Image3, 312, 8, 113, 137}});
    TRowPlacer text;   // the texts beside the logo
    text.Row(11, 13, {{Label5, 16, 11}});
    text.Row(28, 13, {{Label7, 16, 28, 150}});
    text.Row(45, 16, {{label4, 16, 45}});
    text.Row(66, 26, {{label6, 16, 66, 288}});
    text.Row(96, 31, {{Image4, 16, 96, 62, 31}});
    const int down = std::max(0, text.Shift());
    credits->setGeometry(60, 152 + down, 324, 351);
    TRowPlacer inside;
    inside.Row(17, 100, {{Image1, 34, 17}});
    inside.Row(128, 150, {{Image2, 87, 128, 150, 150}});
    inside.Row(302, 13, {{label3, 108, 302}});
    inside.Row(325, 13, {{label1, 79, 325}});
    credits->resize(324, 351 + inside.Shift());
    const int below = down + inside.Shift();
    TRowPlacer bottom;
    bottom.Row(514, 27, {{ok, 188, 514 + below, 68, 27}});
    setFixedSize(443, 550 + below + bottom.Shift());
}

int TFAbout::ShowModal() {
    FormShow();
    return exec();
}

void TFAbout::FormShow() {
    Label5->setText(QStringLiteral("Tavrin Version %1").arg(QLatin1String(kTavrinVersion)));
    Label7->setText(QStringLiteral("Released on %1").arg(QLatin1String(kReleaseDate)));
    if (!Image1->pixmap().isNull()) return;   // loaded at an earlier showing
    QLabel* const images[4] = {Image1, Image3, Image4, Image2};
    for (int i = 0; i < 4; ++i) {
        QPixmap picture;
        if (!picture.load(QString::fromStdString(BaseDir + kPictures[i]))) {
            ShowMessage("Error loading images");   // what was loaded stays; the rest stay empty
            return;
        }
        images[i]->setPixmap(picture);
        if (images[i] == Image1) Image1->resize(picture.size());   // sized to its picture
    }
}
