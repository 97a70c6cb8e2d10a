#include "desktop/uvarview.h"

#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "desktop/askuser.h"
#include "desktop/sharedcontrols.h"
#include "engine/uluagrabbers.h"

namespace {

// A value's text as bytes: strings as they are, so names can be looked up again.
std::string ValueBytes(lua_State* L, int index) {
    switch (lua_type(L, index)) {
        case LUA_TNONE: return {};
        case LUA_TNIL: return "NIL";
        case LUA_TBOOLEAN: return lua_toboolean(L, index) ? "True" : "False";
        case LUA_TLIGHTUSERDATA: return "LIGHT USER DATA";
        case LUA_TNUMBER: return FormatLuaNumber(lua_tonumber(L, index)).toStdString();
        case LUA_TSTRING: {
            size_t length = 0;
            const char* s = lua_tolstring(L, index, &length);
            return std::string(s, length);
        }
        case LUA_TTABLE:
        case LUA_TFUNCTION: return {};
        case LUA_TUSERDATA: return "USER DATA";
        case LUA_TTHREAD: return "THREAD";
        default: return "UNKNOWN";
    }
}

// One node: the texts of its entry, and its key as Lua had it, to find the entry again.
class TLuaVar : public QTreeWidgetItem {
public:
    std::string Name, FullName, Value, ValueType, KeyType;
    int KeyKind = LUA_TNONE;   // strings are looked up by Name
    double NumberKey = 0;
    bool BooleanKey = false;

    const std::string& Field(int column) const { return column == 0 ? Name : column == 1 ? ValueType : Value; }

    QVariant data(int column, int role) const override {
        if (role == Qt::DisplayRole && column >= 0 && column < 3) return DisplayText(Field(column));
        return QTreeWidgetItem::data(column, role);
    }
    // The column's texts compared with ASCII letters folded, otherwise byte for byte.
    bool operator<(const QTreeWidgetItem& other) const override {
        const QTreeWidget* view = treeWidget();
        const int column = view ? view->sortColumn() : 0;
        const std::string& a = Field(column);
        const std::string& b = static_cast<const TLuaVar&>(other).Field(column);
        const size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            const int ca = std::tolower(static_cast<unsigned char>(a[i]));
            const int cb = std::tolower(static_cast<unsigned char>(b[i]));
            if (ca != cb) return (ca & 0xFF) < (cb & 0xFF);
        }
        return a.size() < b.size();
    }
};

TLuaVar* VarOf(QTreeWidgetItem* item) { return static_cast<TLuaVar*>(item); }

// Grid lines between the cells.
class TGridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(QColor(0xD8, 0xD8, 0xD8));
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
        painter->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(0, 3);   // the lines stay clear of the text
    }
};

}  // namespace

QString FormatLuaNumber(double value) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0) return QStringLiteral("0");
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.14e", value);   // 15 significant digits, rounded
    const bool negative = buffer[0] == '-';
    const char* mantissa = buffer + (negative ? 1 : 0);
    const char* e = std::strchr(mantissa, 'e');
    const int exponent = std::atoi(e + 1);
    std::string digits;
    for (const char* p = mantissa; p < e; ++p)
        if (*p != '.') digits += *p;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    const QString separator = QLocale().decimalPoint();
    QString text = negative ? QStringLiteral("-") : QString();
    const auto part = [&](size_t from, size_t to) { return QString::fromLatin1(digits.substr(from, to - from)); };
    if (exponent >= -5 && exponent < 15) {
        if (exponent >= 0) {
            const size_t whole = static_cast<size_t>(exponent) + 1;
            if (digits.size() <= whole) {
                text += part(0, digits.size()) + QString(static_cast<qsizetype>(whole - digits.size()), QLatin1Char('0'));
            } else {
                text += part(0, whole) + separator + part(whole, digits.size());
            }
        } else {
            text += QLatin1Char('0') + separator + QString(-exponent - 1, QLatin1Char('0')) + part(0, digits.size());
        }
    } else {
        text += part(0, 1);
        if (digits.size() > 1) text += separator + part(1, digits.size());
        text += QStringLiteral("E%1").arg(exponent);
    }
    return text;
}

QString LuaValueText(lua_State* L, int index) { return DisplayText(ValueBytes(L, index)); }

TFViewVars::TFViewVars(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FViewVars"));
    setWindowTitle(QStringLiteral("Lua Variables"));
    VarList = Named(new QTreeWidget(this), "VarList");
    VarList->setColumnCount(3);
    VarList->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Value")});
    VarList->setRootIsDecorated(true);
    VarList->setSelectionBehavior(QAbstractItemView::SelectRows);
    VarList->setAllColumnsShowFocus(true);
    VarList->setUniformRowHeights(true);
    VarList->setItemDelegate(new TGridDelegate(VarList));
    QHeaderView* header = VarList->header();
    header->setSectionsMovable(true);
    header->setStretchLastSection(true);   // "Value" takes what is left over
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->resizeSection(0, 458);
    header->resizeSection(1, 200);
    header->resizeSection(2, 200);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) { VarListHeaderClick(column); });
    connect(VarList, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) {
        if (!VarListExpanding(node)) {
            const QSignalBlocker block(VarList);
            node->setExpanded(false);
        }
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(VarList);
    resize(870, 640);
    move(192, 114);
}

void TFViewVars::ShowState(lua_State* L) {
    if (!isVisible()) {
        // At its place, as far as the screen allows.
        if (const QScreen* screen = this->screen()) {
            const QRect free = screen->availableGeometry();
            move(std::max(free.left(), std::min(192, free.right() + 1 - width())),
                 std::max(free.top(), std::min(114, free.bottom() + 1 - height())));
        }
    }
    show();
    raise();
    activateWindow();
    Forget();
    FLuaState = L;
    if (!L || !lua_checkstack(L, 8)) return;
    AddLevel(nullptr, LUA_GLOBALSINDEX);
}

void TFViewVars::Forget() {
    VarList->clear();
    FLuaState = nullptr;
}

void TFViewVars::AddLevel(QTreeWidgetItem* parent, int index) {
    lua_State* L = FLuaState;
    if (index < 0 && index > LUA_REGISTRYINDEX) index = lua_gettop(L) + index + 1;   // absolute, as entries get pushed
    lua_pushnil(L);
    while (lua_next(L, index) != 0) {
        AddEntry(parent);
        lua_pop(L, 1);
    }
}

void TFViewVars::AddEntry(QTreeWidgetItem* parent) {
    lua_State* L = FLuaState;
    const std::string key = ValueBytes(L, -2);
    if (key.size() >= 2 && key[0] == '_') return;   // _G, _VERSION and the like, at every level
    auto* node = new TLuaVar;
    node->Name = key;
    node->KeyType = lua_typename(L, lua_type(L, -2));
    node->KeyKind = lua_type(L, -2);
    if (node->KeyKind == LUA_TNUMBER) node->NumberKey = lua_tonumber(L, -2);
    if (node->KeyKind == LUA_TBOOLEAN) node->BooleanKey = lua_toboolean(L, -2) != 0;
    node->Value = ValueBytes(L, -1);
    node->ValueType = lua_typename(L, lua_type(L, -1));
    node->FullName = parent ? VarOf(parent)->FullName + "." + key : key;
    if (parent) parent->addChild(node);
    else VarList->addTopLevelItem(node);
    if (lua_istable(L, -1)) {
        // A placeholder child gives the node its expand button; the table is read when unfolded.
        node->addChild(new TLuaVar);
        node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
}

void TFViewVars::PushNodeValue(QTreeWidgetItem* node) {
    lua_State* L = FLuaState;
    if (QTreeWidgetItem* parent = node->parent()) PushNodeValue(parent);
    else lua_pushvalue(L, LUA_GLOBALSINDEX);
    // The holder is on top; its entry replaces it. Raw reads: no script code runs here.
    const TLuaVar* var = VarOf(node);
    bool key = lua_istable(L, -1);
    if (key) {
        switch (var->KeyKind) {
            case LUA_TSTRING: lua_pushlstring(L, var->Name.data(), var->Name.size()); break;
            case LUA_TNUMBER: lua_pushnumber(L, var->NumberKey); break;
            case LUA_TBOOLEAN: lua_pushboolean(L, var->BooleanKey); break;
            default: key = false;   // a table, function or other key cannot be named again
        }
    }
    if (!key) {
        lua_pop(L, 1);
        lua_pushnil(L);
        return;
    }
    lua_rawget(L, -2);
    lua_remove(L, -2);
}

bool TFViewVars::VarListExpanding(QTreeWidgetItem* node) {
    qDeleteAll(node->takeChildren());
    node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    // A state that is not the engine's any more is never read.
    if (!FLuaState || !LuaGrabbers || LuaGrabbers->LuaState() != FLuaState) {
        FLuaState = nullptr;
        QMetaObject::invokeMethod(this, [this] { Forget(); }, Qt::QueuedConnection);   // not under the node's feet
        return false;
    }
    if (VarOf(node)->ValueType != "table" || !lua_checkstack(FLuaState, 8)) return false;
    PushNodeValue(node);
    const bool table = lua_istable(FLuaState, -1);
    if (table) AddLevel(node, -1);
    lua_pop(FLuaState, 1);
    return table && node->childCount() > 0;
}

void TFViewVars::VarListHeaderClick(int column) { VarList->sortItems(column, Qt::AscendingOrder); }
