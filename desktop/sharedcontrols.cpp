#include "desktop/sharedcontrols.h"

#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QPushButton>

#include "util/runutils.h"

namespace {

class TStarStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

}  // namespace

TURLLabel::TURLLabel(QWidget* parent, const QString& text, const QString& target)
    : QLabel(text, parent), FTarget(target) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::blue);
    setPalette(p);
}

void TURLLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    const QString target = Target();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && !target.isEmpty())
        RunProgram(target.toStdString());
}

void ShowStars(QLineEdit* field) {
    field->setEchoMode(QLineEdit::Password);
    auto* stars = new TStarStyle;
    stars->setParent(field);
    field->setStyle(stars);
}

void MoveMarkedLines(QListWidget* list, bool up, const std::function<void(int from, int to)>& moved) {
    const int count = list->count();
    if (list->item(up ? 0 : count - 1)->isSelected()) return;
    for (int n = 0; n < count; ++n) {
        const int i = up ? n : count - 1 - n;
        if (!list->item(i)->isSelected()) continue;
        const int to = up ? i - 1 : i + 1;
        QListWidgetItem* line = list->takeItem(i);
        list->insertItem(to, line);
        if (list->selectionMode() == QAbstractItemView::SingleSelection) list->setCurrentItem(line);
        line->setSelected(true);
        moved(i, to);
    }
}

int ButtonWidth(const QPushButton* button, int minimum) {
    return std::max(minimum, button->fontMetrics().horizontalAdvance(button->text()) + 16);
}

void TRowPlacer::Row(int top, int height, std::initializer_list<TCell> cells) {
    int bottom = top + height;
    for (const TCell& c : cells) {
        const QSize hint = c.Widget->sizeHint();
        const auto* button = qobject_cast<const QPushButton*>(c.Widget);
        const int w = button && c.Width ? ButtonWidth(button, c.Width) : std::max(c.Width, hint.width());
        const int needed = c.Widget->hasHeightForWidth() ? c.Widget->heightForWidth(w) : hint.height();
        const int h = std::max(c.Height, needed);
        c.Widget->setGeometry(c.Left, c.Top + FShift, w, h);
        bottom = std::max(bottom, c.Top + h);
    }
    FShift += bottom - (top + height);
}
