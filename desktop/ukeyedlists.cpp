#include "desktop/ukeyedlists.h"

#include <QStringList>

namespace {

constexpr int kTextRole = Qt::UserRole;   // the item's whole text, key=caption

}  // namespace

TKeyedCheckListBox::TKeyedCheckListBox(QWidget* parent) : QListWidget(parent) {
    setUniformItemSizes(true);   // fixed item height
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void TKeyedCheckListBox::AddItem(const QString& key, const QString& caption, bool checked) {
    auto* item = new QListWidgetItem(caption, this);
    item->setData(kTextRole, key + QLatin1Char('=') + caption);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

QString TKeyedCheckListBox::ItemText(int index) const { return item(index)->data(kTextRole).toString(); }

QString TKeyedCheckListBox::Key(int index) const {
    const QString text = ItemText(index);
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    return eq < 0 ? text : text.left(eq);
}

void TKeyedCheckListBox::SetChoices(const QString& choices, const QString& stored) {
    clear();
    // Every piece ended by ";" is a key, and a last piece without one too, unless it is empty.
    const QStringList keys = stored.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const auto add = [&](const QString& caption, const QString& key) {
        bool checked = false;
        for (const QString& k : keys) checked = checked || k.compare(key, Qt::CaseInsensitive) == 0;
        AddItem(key, caption.isEmpty() ? key : caption, checked);
    };
    // A choice is "caption|key;" or "key;": the text after "|" is the key. A caption whose key
    // never comes ("x|" at the end) adds nothing.
    QString current, caption;
    for (const QChar c : choices) {
        if (c == QLatin1Char('|')) {
            caption = current;
            current.clear();
        } else if (c == QLatin1Char(';')) {
            add(caption, current);
            current.clear();
            caption.clear();
        } else {
            current += c;
        }
    }
    if (!current.isEmpty()) add(caption, current);
}

QString TKeyedCheckListBox::GetCheckedKeys() const {
    QString keys;
    for (int i = 0; i < count(); ++i)
        if (item(i)->checkState() == Qt::Checked) keys += Key(i) + QLatin1Char(';');
    return keys;
}

QSize TKeyedCheckListBox::sizeHint() const {
    const int row = std::max(sizeHintForRow(0), fontMetrics().height() + 4);
    return {QListWidget::sizeHint().width(), 6 * row + 2 * frameWidth()};
}
