// Small controls that several windows share: a label that opens a link, password fields that show
// "*", and naming a widget as the window's description calls it.
#pragma once

#include <QLabel>
#include <QString>

#include <functional>

class QLineEdit;
class QListWidget;
class QPushButton;

// A dialog of fixed size with a system menu, a minimize and a close button.
inline constexpr Qt::WindowFlags kFixedDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                     Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                                     Qt::WindowCloseButtonHint;

// A link: blue, underlined, a hand cursor; a left click opens its target with RunProgram. The
// target is the label's own text unless one is set.
class TURLLabel : public QLabel {
    Q_OBJECT

public:
    explicit TURLLabel(QWidget* parent = nullptr, const QString& text = {}, const QString& target = {});
    void SetTarget(const QString& target) { FTarget = target; }
    QString Target() const { return FTarget.isEmpty() ? text() : FTarget; }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString FTarget;
};

// The field hides what is typed, one "*" per character.
void ShowStars(QLineEdit* field);

// The width a push button needs for its caption, at least `minimum` (the platform's own size hint
// asks for more than a short caption needs).
int ButtonWidth(const QPushButton* button, int minimum);

// Moves the marked lines of a list one place up or down as a block, the ones nearest that edge
// first, and tells `moved` each move; nothing when a marked line stands at the edge already. The
// list must not be empty.
void MoveMarkedLines(QListWidget* list, bool up, const std::function<void(int from, int to)>& moved);

template <class W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// Lays out controls at the places a window's description gives for a font 13 pixels high, row by
// row from the top: a control taller than its place (a larger font, the platform's taller buttons
// and fields) moves every later row down by the difference, and a control given a width keeps at
// least its own needed width. Shift() is how far the rows have moved so far.
class TRowPlacer {
public:
    struct TCell {
        QWidget* Widget;
        int Left;
        int Top;         // the description's top
        int Width = 0;   // 0: the control's own width
        int Height = 0;  // 0: the control's own height
    };
    // One row: controls whose description places them between `top` and `top + height`.
    void Row(int top, int height, std::initializer_list<TCell> cells);
    int Shift() const { return FShift; }

private:
    int FShift = 0;
};
