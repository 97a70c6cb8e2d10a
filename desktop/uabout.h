// The about box: the version and release date, the credits and links, and four pictures made for
// this program (its logo and the credits of the libraries it is built on), loaded once from the
// program folder's "pics/".
#pragma once

#include <QDialog>

class QLabel;

class TFAbout : public QDialog {
    Q_OBJECT

public:
    explicit TFAbout(QWidget* parent = nullptr);

    // Sets the texts and, at the first showing, loads the pictures; then shows the box modally.
    int ShowModal();
    void FormShow();

    // The pictures, in the order they are loaded, beside the program in "pics/".
    static const char* const kPictures[4];

private:
    QLabel* Label5 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* Image4 = nullptr;
};
