// Sorting a table's view by a grid column title.
#pragma once

#include <QString>

namespace zentaro {
class UserInterface;
}

namespace zentaro::db {

class Table;

// Builds the sort index "is_<field>" over one field (removing the table's earlier "is_" indexes) and
// makes it the table's order.
void GrdSort(Table& cds, const QString& fld, bool dsc);

// Whether a title click of the grid shows the wait cursor while the table is re-ordered.
bool titleClickShowsWaitCursor(const QString& grid, const QString& field);

// The order a title click of a grid gives its table (grid names as in the window: "grdLink", ...).
// Moves the sites grid to its first record.
void gridTitleClick(const QString& grid, Table& table, const QString& field);

// The find buttons: asks for the beginning of the text with the "Поиск" dialog and moves to the first
// record of the view whose field starts with it. Cancel or an empty text changes nothing.
bool findByPrompt(UserInterface& ui, Table& table, const QString& field, const QString& prompt);

} // namespace zentaro::db
