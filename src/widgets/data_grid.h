// The data grid: a table's view with in-place editing, titles and column layout.
#pragma once

#include <functional>
#include <vector>

#include <QPersistentModelIndex>
#include <QPointer>
#include <QTableView>

namespace zentaro::db {
class Table;
class TableModel;
} // namespace zentaro::db

namespace zentaro::app {

// A grid over one table: edit in place, record indicator, blue titles, movable and resizable columns,
// the title under the mouse highlighted, title clicks reported by field name, Ctrl+Del deletes the current
// record through the table's own rules.
class DataGrid : public QTableView {
    Q_OBJECT
public:
    DataGrid(db::TableModel* model, QWidget* parent = nullptr);
    using QTableView::edit;
    db::TableModel* tableModel() const { return m_model; }
    db::Table& table() const;
    // The least width a column is restored to: record numbers of seven digits show whole in "#" columns.
    int leastWidth(int column) const;

    // Rows for which the cell at the first visual column is painted light red with its stored value.
    std::function<bool(int row)> highlightFirstColumn;
    // A column whose editor offers the records of another table and writes the chosen key into a field.
    void setLookupColumn(int column, db::Table& list, const QString& shownField, const QString& dataField);
    // True when no edit or delete may start now (a run is going); the grid then leaves the record alone.
    std::function<bool()> refuseChange;
    // Deletes the rows selected together, when there are several; false leaves Ctrl+Del to the current
    // record.
    std::function<bool()> deleteSelection;
    // The view positions of the rows that have a selected cell, in order.
    std::vector<int> selectedPositions() const;
    // Writes what the open cell editor holds into the record, as leaving the cell would.
    void commitOpenEditor();
    // The first column, in the order shown, whose cells the user can edit; -1 when none.
    int firstEditableColumn() const;

    // What an empty grid says in its middle: how to fill it (none: nothing is said).
    std::function<QString()> emptyText;
    // The column that takes the room the others leave (a wide window), and gives it back down to its
    // least width when the grid narrows; -1 for none.
    void setSpareWidthColumn(int column, int leastWidth);
    void fitSpareWidth();

    // A typed text the table refused: the editor stays open on its cell, and the reason is told.
    void refuseEdit(QWidget* editor, const QModelIndex& index, const QString& text);

signals:
    void titleClicked(const QString& field);
    // Why a typed value was not stored.
    void inputRefused(const QString& reason);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void followTable(int row);
    db::TableModel* m_model;
    int m_hovered = -1;
    bool m_syncing = false;
    int m_spareColumn = -1;
    int m_spareLeast = 0;
    QPointer<QWidget> m_refusedEditor;
    QPersistentModelIndex m_refusedIndex;
};

} // namespace zentaro::app
