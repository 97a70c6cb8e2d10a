#include "desktop/uvarview.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHeaderView>
#include <QLocale>
#include <QTreeWidget>

#include <memory>

#include "engine/uluagrabbers.h"
#include "tests/desktop/desktopfixture.h"

using namespace testing_support;

namespace {

using Rows = std::vector<std::string>;   // "name|type|value"

TEST(FormatLuaNumberTest, FifteenDigitsAndTheLocalesSeparator) {
    const struct {
        double value;
        const char* text;
    } cases[] = {{42, "42"}, {3, "3"}, {0.5, "0.5"}, {-2.25, "-2.25"}, {0.1, "0.1"}, {1e20, "1E20"},
                 {123456789012345678.0, "1.23456789012346E17"}, {1e-7, "1E-7"}, {0.00001, "0.00001"},
                 {999999999999999.0, "999999999999999"}, {1e15, "1E15"}, {-1.5e-300, "-1.5E-300"}, {0, "0"}};
    for (const auto& c : cases) EXPECT_EQ(FormatLuaNumber(c.value).toStdString(), c.text) << c.text;
    const QLocale old;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatLuaNumber(-2.25).toStdString(), "-2,25");
    EXPECT_EQ(FormatLuaNumber(1.5e-7).toStdString(), "1,5E-7");
    QLocale::setDefault(old);
}

const char* const kGlobals =
    "x = 42  t = true  s = 'abc'  f = function() end  _hidden = 1  _ = 5\n"
    "arr = {10, 20}  rows = {{name = 'b'}, {name = 'A'}}  nine = {'9', '10', 'Zed'}\n"
    "odd = {[true] = {1}, [1.5] = {2}, [{}] = {3}}  grow = {}\n"
    "Grabbers.one = {}  Grabbers.two = {}\n";

class ViewerTest : public DesktopTest {
protected:
    ViewerTest() {
        Folder.Script("vars.lua", kGlobals);
        Run = std::make_unique<EngineRun>(Folder);
        L = Run->Engine->LuaState();
        Top = lua_gettop(L);
        Viewer.ShowState(L);
        Balanced("ShowState");
    }
    void Balanced(const char* after) const { EXPECT_EQ(lua_gettop(L), Top) << "after " << after; }
    QTreeWidgetItem* Node(const std::string& path) const {
        QTreeWidgetItem* node = nullptr;
        size_t at = 0;
        for (;;) {
            const size_t dot = path.find('.', at);
            const QString name = QString::fromStdString(path.substr(at, dot == std::string::npos ? dot : dot - at));
            QTreeWidgetItem* found = nullptr;
            const int count = node ? node->childCount() : Viewer.Tree()->topLevelItemCount();
            for (int i = 0; i < count && !found; ++i) {
                QTreeWidgetItem* child = node ? node->child(i) : Viewer.Tree()->topLevelItem(i);
                if (child->text(0) == name) found = child;
            }
            if (!found) return nullptr;
            node = found;
            if (dot == std::string::npos) return node;
            at = dot + 1;
        }
    }
    Rows Children(const std::string& path) const {
        Rows rows;
        QTreeWidgetItem* node = Node(path);
        for (int i = 0; node && i < node->childCount(); ++i) {
            QTreeWidgetItem* c = node->child(i);
            rows.push_back((c->text(0) + "|" + c->text(1) + "|" + c->text(2)).toStdString());
        }
        return rows;
    }
    std::string Row(const std::string& path) const {
        QTreeWidgetItem* n = Node(path);
        return n ? (n->text(1) + "|" + n->text(2)).toStdString() : "(none)";
    }
    void Unfold(const std::string& path) {
        QTreeWidgetItem* node = Node(path);
        ASSERT_NE(node, nullptr) << path;
        node->setExpanded(false);
        node->setExpanded(true);
        Balanced(path.c_str());
    }

    std::unique_ptr<EngineRun> Run;
    lua_State* L = nullptr;
    int Top = 0;
    TFViewVars Viewer;
};

TEST_F(ViewerTest, GlobalsAndTheirValues) {
    EXPECT_EQ(Viewer.windowTitle(), "Lua Variables");
    EXPECT_EQ(Viewer.Tree()->header()->sectionSize(0), 458);
    const struct {
        const char* name;
        const char* row;
    } rows[] = {{"x", "number|42"}, {"t", "boolean|True"}, {"s", "string|abc"}, {"f", "function|"},
                {"_", "number|5"}, {"_hidden", "(none)"}, {"_G", "(none)"}, {"_VERSION", "(none)"}, {"arr", "table|"}};
    for (const auto& r : rows) EXPECT_EQ(Row(r.name), r.row) << r.name;
    EXPECT_EQ(Node("arr")->childCount(), 1);   // a placeholder until unfolded

    Unfold("Grabbers");
    EXPECT_EQ(Children("Grabbers").size(), 2u);
    EXPECT_EQ(Row("Grabbers.one"), "table|");
    Unfold("arr");
    EXPECT_EQ(Children("arr"), (Rows{"1|number|10", "2|number|20"}));
    Unfold("rows");
    Unfold("rows.2");   // an element of an array of tables, read by its index
    EXPECT_EQ(Children("rows.2"), Rows{"name|string|A"});
}

TEST_F(ViewerTest, KeysThatCannotBeNamedAgainGiveNoChildren) {
    Unfold("odd");
    // A boolean key and a key with a fraction are found again; a table key cannot be.
    const struct {
        const char* key;
        Rows children;
    } keys[] = {{"True", {"1|number|1"}}, {"1.5", {"1|number|2"}}, {"", {}}};
    for (const auto& k : keys) {
        QTreeWidgetItem* node = nullptr;
        for (int i = 0; i < Node("odd")->childCount(); ++i)
            if (Node("odd")->child(i)->text(0) == QLatin1String(k.key)) node = Node("odd")->child(i);
        ASSERT_NE(node, nullptr) << k.key;
        node->setExpanded(true);
        Balanced(k.key);
        Rows children;
        for (int i = 0; i < node->childCount(); ++i)
            children.push_back((node->child(i)->text(0) + "|" + node->child(i)->text(1) + "|" + node->child(i)->text(2)).toStdString());
        EXPECT_EQ(children, k.children) << k.key;
        EXPECT_EQ(node->isExpanded(), !k.children.empty()) << k.key;
    }

    // Vanished since its level was read.
    luaL_dostring(L, "rows[2] = nil");
    lua_settop(L, Top);
    Unfold("rows");
    QTreeWidgetItem* stale = Node("rows.1");
    ASSERT_NE(stale, nullptr);
    luaL_dostring(L, "rows[1] = nil");
    lua_settop(L, Top);
    stale->setExpanded(true);
    Balanced("a vanished key");
    EXPECT_EQ(stale->childCount(), 0);
    for (QTreeWidgetItem* node : {Node("x"), Node("arr")}) {
        Viewer.PushNodeValue(node);
        EXPECT_EQ(lua_gettop(L), Top + 1);
        lua_pop(L, 1);
    }
}

TEST_F(ViewerTest, UnfoldingReadsAfreshAndHeadersSortEveryLevel) {
    Unfold("grow");
    EXPECT_TRUE(Children("grow").empty());
    luaL_dostring(L, "grow.a = 'new'");
    lua_settop(L, Top);
    Unfold("grow");
    EXPECT_EQ(Children("grow"), Rows{"a|string|new"});

    Unfold("nine");
    Unfold("rows");
    Viewer.VarListHeaderClick(2);
    Viewer.VarListHeaderClick(2);   // a second click sorts ascending again
    Balanced("sorting");
    EXPECT_EQ(Children("nine"), (Rows{"2|string|10", "1|string|9", "3|string|Zed"}));
    Viewer.VarListHeaderClick(0);
    const QTreeWidget* tree = Viewer.Tree();
    for (int i = 1; i < tree->topLevelItemCount(); ++i)
        EXPECT_LE(tree->topLevelItem(i - 1)->text(0).compare(tree->topLevelItem(i)->text(0), Qt::CaseInsensitive), 0);
}

TEST_F(ViewerTest, AStateThatIsNoLongerTheEnginesIsNeverRead) {
    QTreeWidgetItem* arr = Node("arr");
    Run->Destroy();   // the state is closed
    arr->setExpanded(true);
    EXPECT_EQ(Viewer.LuaState(), nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(Viewer.Tree()->topLevelItemCount(), 0);
}

}  // namespace
