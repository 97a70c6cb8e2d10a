// The Lua variable viewer: the globals of the engine's Lua state as a tree of name, type and value.
// Tables unfold level by level, each unfolding read afresh from the state. The viewer only borrows
// the state: the main window closes it (Forget) before a run and before the engine is replaced.
#pragma once

#include <lua.hpp>

#include <QString>
#include <QWidget>

class QTreeWidget;
class QTreeWidgetItem;

// The text a Lua value is shown as (index is a stack index).
QString LuaValueText(lua_State* L, int index);
// A number in general format: up to 15 significant digits, fixed notation from 0.00001 to below
// 1E15, otherwise "1E20" or "1.5E-7"; the decimal separator is the user's locale's.
QString FormatLuaNumber(double value);

class TFViewVars : public QWidget {
    Q_OBJECT

public:
    explicit TFViewVars(QWidget* parent = nullptr);

    // Shows the window (brought up if shown already) with the globals of the state.
    void ShowState(lua_State* L);
    // Empties the tree and lets go of the state, which is about to change or go.
    void Forget();
    lua_State* LuaState() const { return FLuaState; }
    QTreeWidget* Tree() const { return VarList; }

    // Sorts every level by the column, ascending, letters compared without regard to case.
    void VarListHeaderClick(int column);
    // Reads a table's entries afresh under its node; false (and no children) when the node holds no table.
    bool VarListExpanding(QTreeWidgetItem* node);
    // Pushes the node's value, found from the globals down; nil when a key on the way cannot be
    // found any more. Pushes exactly one value in every case.
    void PushNodeValue(QTreeWidgetItem* node);

private:
    void AddLevel(QTreeWidgetItem* parent, int index);
    void AddEntry(QTreeWidgetItem* parent);

    QTreeWidget* VarList = nullptr;
    lua_State* FLuaState = nullptr;   // the engine's, not owned
};
