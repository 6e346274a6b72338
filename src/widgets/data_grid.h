#pragma once

#include <functional>

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
    db::TableModel* tableModel() const { return m_model; }
    db::Table& table() const;
    int hoveredSection() const { return m_hovered; }

    // Rows for which the cell at the first visual column is painted light red with its stored value.
    std::function<bool(int row)> highlightFirstColumn;
    // A column whose editor offers the records of another table and writes the chosen key into a field.
    void setLookupColumn(int column, db::Table& list, const QString& shownField, const QString& dataField);

signals:
    void titleClicked(const QString& field);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followTable(int row);
    db::TableModel* m_model;
    int m_hovered = -1;
    bool m_syncing = false;
};

} // namespace zentaro::app
