#include "desktop/uselchans.h"

#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <exception>
#include <optional>
#include <string>

#include "desktop/askuser.h"
#include "desktop/sharedcontrols.h"
#include "engine/uluagrabbers.h"
#include "util/shwmsg.h"

namespace {

constexpr int kNameRole = Qt::UserRole;   // the line's display name, byte for byte

std::string LineName(const QListWidgetItem* item) {
    const QByteArray name = item->data(kNameRole).toByteArray();
    return std::string(name.constData(), static_cast<size_t>(name.size()));
}

// Whether the grabber's table holds RefreshChannels; none when the table cannot be read.
std::optional<bool> HasRefreshChannels(const TLuaGrabber& grabber) {
    lua_State* L = LuaGrabbers ? LuaGrabbers->LuaState() : nullptr;
    if (!L) return std::nullopt;
    const int top = lua_gettop(L);
    std::optional<bool> has;
    lua_getglobal(L, "Grabbers");
    if (lua_istable(L, -1)) {
        lua_pushlstring(L, grabber.ID.data(), grabber.ID.size());
        lua_rawget(L, -2);   // raw: reading the tables runs no script code
        if (lua_istable(L, -1)) {
            lua_pushliteral(L, "RefreshChannels");
            lua_rawget(L, -2);
            has = !lua_isnil(L, -1);
        }
    }
    lua_settop(L, top);
    return has;
}

}  // namespace

TFChanSel::TFChanSel(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FChanSel"));
    setWindowTitle(QStringLiteral("Select Channels"));
    setWindowFlags(kFixedDialogFlags);

    Label1 = Named(new QLabel(QStringLiteral("Available Channels:"), this), "Label1");
    Label2 = Named(new QLabel(QStringLiteral("Selected Channels:"), this), "Label2");
    LBAv = Named(new QListWidget(this), "LBAv");
    LBSel = Named(new QListWidget(this), "LBSel");
    for (QListWidget* list : {LBAv, LBSel}) list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    const auto button = [this](const char* caption, const char* name, void (TFChanSel::*handler)()) {
        auto* b = Named(new QPushButton(QLatin1String(caption), this), name);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
        return b;
    };
    BAdd = button(">>", "BAdd", &TFChanSel::BAddClick);
    BRem = button("<<", "BRem", &TFChanSel::BRemClick);
    BUp = button("^", "BUp", &TFChanSel::BUpClick);
    BDown = button("v", "BDown", &TFChanSel::BDownClick);
    BRefChans = button("Refresh Channels", "BRefChans", &TFChanSel::BRefChansClick);
    Button6 = Named(new QPushButton(QStringLiteral("OK"), this), "Button6");
    Button6->setDefault(true);
    connect(Button6, &QPushButton::clicked, this, &QDialog::accept);

    // The places of a 431 × 488 client area drawn with a font 13 pixels high; a taller font moves
    // what lies below the captions down by the difference, and wide captions widen their buttons.
    const int dy = std::max(0, QFontMetrics(font()).height() - 13);
    const auto place = [dy](QPushButton* b, int x, int y, int w) {
        const int width = ButtonWidth(b, w);
        b->setGeometry(x - (width - w) / 2, y + dy, width, std::max(25, b->sizeHint().height()));
    };
    Label1->move(9, 8);
    Label2->move(264, 8);
    LBAv->setGeometry(9, 24 + dy, 160, 419);
    LBSel->setGeometry(264, 24 + dy, 160, 419);
    place(BAdd, 178, 88, 75);
    place(BRem, 178, 120, 75);
    place(BUp, 205, 160, 43);
    place(BDown, 207, 192, 41);
    place(BRefChans, 29, 450, 121);
    place(Button6, 178, 450, 75);
    setFixedSize(431, 488 + dy + std::max(0, Button6->height() - 25));
}

// ---- filling ----------------------------------------------------------------------------------

int TFChanSel::SelectChannels(TLuaGrabber& grabber) {
    Load(grabber);
    const int result = exec();
    FGrabber = nullptr;
    return result;
}

void TFChanSel::Load(TLuaGrabber& grabber) {
    FGrabber = &grabber;
    FillLists();
    if (const std::optional<bool> has = HasRefreshChannels(grabber)) BRefChans->setEnabled(*has);
}

void TFChanSel::AddLine(QListWidget* list, const std::string& name, bool sorted) {
    auto* item = new QListWidgetItem(DisplayText(name));
    item->setData(kNameRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
    int at = list->count();
    if (sorted) {
        // By text without regard to letter case; equal texts keep the order they came in.
        const QString text = item->text();
        at = 0;
        while (at < list->count() && list->item(at)->text().compare(text, Qt::CaseInsensitive) <= 0) ++at;
    }
    list->insertItem(at, item);
}

void TFChanSel::FillLists() {
    LBAv->clear();
    LBSel->clear();
    if (!FGrabber) return;
    for (const TChannel& channel : *FGrabber->AvailableChannels) AddLine(LBAv, DisplayNameOf(channel), true);
    for (const TChannel& channel : *FGrabber->SelectedChannels) AddLine(LBSel, DisplayNameOf(channel), false);
}

// ---- moves ------------------------------------------------------------------------------------

void TFChanSel::MoveMarked(QListWidget* from, TChanList& source, TChanList& target, bool toSelected) {
    QListWidget* to = toSelected ? LBSel : LBAv;
    int i = 0;
    while (i < from->count()) {
        QListWidgetItem* line = from->item(i);
        if (!line->isSelected()) {
            ++i;
            continue;
        }
        const std::string name = LineName(line);
        // A selected line stands for the channel at its own position, also when another channel
        // of the selection has the same name; an available line for the first channel of its name.
        const bool atOwnPlace =
            !toSelected && i < source.Count() && DisplayNameOf(*source.GetItem(i + 1)) == name;
        if (!atOwnPlace) {
            source.FindIDByName(name);
            // No channel of that name (the lists no longer mirror each other): nothing moves.
            if (!source.Current() || DisplayNameOf(*source.Current()) != name) {
                ++i;
                continue;
            }
        }
        delete from->takeItem(i);
        target.TakeCurrentFrom(source);
        AddLine(to, name, !toSelected);
    }
}

void TFChanSel::BAddClick() {
    if (!FGrabber) return;
    try {
        MoveMarked(LBAv, *FGrabber->AvailableChannels, *FGrabber->SelectedChannels, true);
    } catch (const std::exception&) {
        ShowMessage("Error adding channel");
    }
}

void TFChanSel::BRemClick() {
    if (!FGrabber) return;
    try {
        MoveMarked(LBSel, *FGrabber->SelectedChannels, *FGrabber->AvailableChannels, false);
    } catch (const std::exception&) {
        ShowMessage("Error deleting channel");
    }
}

void TFChanSel::MoveSelected(bool up) {
    if (!FGrabber) return;
    TChanList& channels = *FGrabber->SelectedChannels;
    const int count = LBSel->count();
    // An empty list has no first or last line to test.
    if (count == 0 || channels.Count() != count) {
        ShowMessage("Error moving channel");
        return;
    }
    try {
        // Line i is the channel at position i + 1.
        MoveMarkedLines(LBSel, up, [&channels](int from, int to) { channels.Exchange(from + 1, to + 1); });
    } catch (const std::exception&) {
        ShowMessage("Error moving channel");
    }
}

void TFChanSel::BUpClick() { MoveSelected(true); }
void TFChanSel::BDownClick() { MoveSelected(false); }

// ---- refresh ----------------------------------------------------------------------------------

void TFChanSel::BRefChansClick() {
    if (!FGrabber || FRefreshing) return;
    // The script may download (and process events) meanwhile: the dialog stays open until it ends.
    FRefreshing = true;
    BRefChans->setEnabled(false);
    Button6->setEnabled(false);
    try {
        FGrabber->RefreshChannelList();
    } catch (const std::exception& e) {
        ShowMessageFmt("Error refreshing channels: %s", e.what());
    }
    FillLists();
    FRefreshing = false;
    BRefChans->setEnabled(true);
    Button6->setEnabled(true);
}

void TFChanSel::closeEvent(QCloseEvent* event) {
    if (FRefreshing) event->ignore();
    else QDialog::closeEvent(event);
}

void TFChanSel::reject() {
    if (!FRefreshing) QDialog::reject();
}
