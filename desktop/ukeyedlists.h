// TKeyedCheckListBox: a check list whose items each carry a key and a caption. An item's text is
// "key=caption"; only the caption is shown. The script settings dialog edits a setting of chosen
// keys with it.
#pragma once

#include <QListWidget>
#include <QString>

class TKeyedCheckListBox : public QListWidget {
    Q_OBJECT

public:
    explicit TKeyedCheckListBox(QWidget* parent = nullptr);

    // Fills the list from a choices text ("caption|key;caption|key;...", a choice without "|" is
    // its own key) and checks the items whose keys are among the stored keys ("key;key;", the last
    // ";" optional), keys compared without regard to letter case.
    void SetChoices(const QString& choices, const QString& stored);
    // The keys of the checked items in list order, each followed by ";".
    QString GetCheckedKeys() const;

    void AddItem(const QString& key, const QString& caption, bool checked);
    QString ItemText(int index) const;   // "key=caption"
    QString Key(int index) const;        // the text up to the first "="

    // The standard height: six items.
    QSize sizeHint() const override;
};
