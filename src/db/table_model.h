// The Qt item model that shows one table's view in a grid.
#pragma once

#include <functional>

#include <QAbstractTableModel>
#include <QList>
#include <QString>

namespace zentaro::db {

class Table;

struct GridColumn {
    GridColumn(QString f, QString t, int w, QStringList picks = {}, unsigned rgb = 0x0000ff,
               bool shown = true, unsigned text = 0)
        : field(std::move(f)), title(std::move(t)), width(w), titleRgb(rgb), textRgb(text),
          pickList(std::move(picks)), visible(shown) {}
    QString field;
    QString title;
    int width = 64;
    unsigned titleRgb = 0x0000ff; // title text colour, 0xRRGGBB
    unsigned textRgb = 0;         // cell text colour, 0 for the window's
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
    QStringList pickList; // words offered by the cell editor
    bool visible = true;
    bool smallTitle = false;   // title drawn in a smaller font
    bool lookupEditor = false; // a lookup column edited through a drop-down of the list table
    // A read-only column that is no field's: its cell data by engine row and role.
    std::function<QVariant(int row, int role)> computed;
};

// One grid's view of a table: rows are the table's view, the current row follows the current record
// both ways, edits go through the field's text rules. Only the rows that change are signalled; a reset
// is for a new filter or order.
class TableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Header role carrying a column title's colour as 0xRRGGBB.
    static constexpr int TitleRgbRole = Qt::UserRole + 1;
    // Cell role carrying the column's text colour as 0xRRGGBB (absent for the window's colour).
    static constexpr int TextRgbRole = Qt::UserRole + 2;
    // Header role: true when the column's title is drawn in a smaller font.
    static constexpr int SmallTitleRole = Qt::UserRole + 3;

    TableModel(Table& table, QList<GridColumn> columns, QObject* parent = nullptr);

    Table& table() const { return m_table; }
    const QList<GridColumn>& columns() const { return m_columns; }
    int fieldOfColumn(int column) const;
    void setSmallTitle(int column) { m_columns[column].smallTitle = true; }
    void setLookupEditor(int column) { m_columns[column].lookupEditor = true; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The row the table's current record stands on; -1 when none.
    int currentRow() const;
    // Makes the record at the row current (the table's rules follow).
    void setCurrentRow(int row);
    // Makes the record at the row current for an edit; false when another record ended up current.
    bool makeCurrent(int row);

signals:
    void currentRowChanged(int row);

private:
    void onReset();
    void onInserted(int pos);
    void onRemoved(int pos);
    void onChanged(int pos);
    void onCurrent(int pos);

    Table& m_table;
    QList<GridColumn> m_columns;
    QList<int> m_fields;
    // The table tells about a row after it changed; while the model announces the change, its old rows are
    // mapped onto the table's new positions.
    int tablePos(int row) const;
    int m_shiftFrom = -1;
    int m_shift = 0;
    int m_rows = 0;
    int m_current = -1;
};

} // namespace zentaro::db
