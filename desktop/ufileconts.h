// Text fields with a "Browse" button beside them: TFDEdit, and its kinds TFileEdit (a file) and
// TDirEdit (a folder). The button belongs to the field: it sits in the field's parent, at the side
// ButtonPosition names, and follows the field's place, enabled state, visibility and direction.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

class QFileDialog;
class TDirDialog;

enum TButtonPosition { bpAbove, bpBelow, bpLeft, bpRight };

class TFDEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TFDEdit(QWidget* parent = nullptr);
    ~TFDEdit() override;

    TButtonPosition ButtonPosition() const { return FButtonPosition; }
    void SetButtonPosition(TButtonPosition position);
    QPushButton* Button() const { return FButton; }   // none once it has been freed

    // The browse action: the field's text goes to Browse, and its result replaces the text when
    // Browse returns true.
    void BrowseClick();

protected:
    // Lets the user choose; `text` is the field's text on the way in and the choice on the way out.
    virtual bool Browse(QString& text) = 0;

    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void PlaceButton();
    void FollowParent();

    QPointer<QPushButton> FButton;   // cleared by Qt when the button is freed elsewhere
    TButtonPosition FButtonPosition = bpRight;
};

class TFileEdit : public TFDEdit {
    Q_OBJECT

public:
    explicit TFileEdit(QWidget* parent = nullptr);
    ~TFileEdit() override;

    // Several files may be chosen; the text then holds each path followed by ";".
    bool MultiSelect() const;
    void SetMultiSelect(bool on);
    QFileDialog* Dialog() const { return FDialog; }

protected:
    bool Browse(QString& text) override;

private:
    QFileDialog* FDialog;   // a save dialog with no title, filter or default name
};

class TDirEdit : public TFDEdit {
    Q_OBJECT

public:
    explicit TDirEdit(QWidget* parent = nullptr);
    TDirDialog* Dialog() const { return FDialog; }

protected:
    bool Browse(QString& text) override;

private:
    TDirDialog* FDialog;
};
