// The Qt item model that shows one table's view in a grid.
#include "db/table_model.h"

#include "db/table.h"

namespace zentaro::db {

TableModel::TableModel(Table& table, QList<GridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_table(table), m_columns(std::move(columns)) {
    for (const GridColumn& c : m_columns)
        m_fields << m_table.fieldIndex(c.field);
    m_rows = m_table.recordCount();
    m_current = m_table.currentPos();
    connect(&m_table, &Table::viewReset, this, &TableModel::onReset);
    connect(&m_table, &Table::rowInserted, this, &TableModel::onInserted);
    connect(&m_table, &Table::rowRemoved, this, &TableModel::onRemoved);
    connect(&m_table, &Table::rowChanged, this, &TableModel::onChanged);
    connect(&m_table, &Table::currentChanged, this, &TableModel::onCurrent);
}

int TableModel::fieldOfColumn(int column) const {
    return column >= 0 && column < m_fields.size() ? m_fields[column] : -1;
}

int TableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

int TableModel::tablePos(int row) const {
    if (m_shiftFrom < 0 || row < m_shiftFrom) return row;
    if (m_shift < 0 && row == m_shiftFrom) return -1; // the removed row
    return m_shift > 0 ? row + 1 : row - 1;
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows) return {};
    if (const auto& computed = m_columns[index.column()].computed) {
        if (role == Qt::TextAlignmentRole) return QVariant::fromValue(m_columns[index.column()].align);
        return computed(m_table.rowAt(tablePos(index.row())), role);
    }
    const int field = m_fields[index.column()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return m_table.displayTextAt(tablePos(index.row()), field);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(m_columns[index.column()].align);
    case TextRgbRole:
        return m_columns[index.column()].textRgb ? QVariant(m_columns[index.column()].textRgb) : QVariant();
    default:
        return {};
    }
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
    const QString text = value.toString();
    if (text == m_table.displayTextAt(index.row(), m_fields[index.column()])) return true;
    if (!makeCurrent(index.row())) return false;
    const bool ok = m_table.setText(m_fields[index.column()], text);
    if (ok) m_table.post();
    return ok;
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const int field = m_fields[index.column()];
    // A record keeps its ID for life: other tables refer to it by that number.
    if (field >= 0 && m_table.field(field).name != QLatin1String("ID") &&
        (m_table.field(field).kind == FieldKind::Stored || m_columns[index.column()].lookupEditor))
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= m_columns.size()) return {};
        if (role == Qt::DisplayRole) return m_columns[section].title;
        if (role == TitleRgbRole) return m_columns[section].titleRgb;
        if (role == SmallTitleRole) return m_columns[section].smallTitle;
        return {};
    }
    // The record indicator: the current row is marked, with the editing state.
    if (role == Qt::DisplayRole && section == m_current) {
        switch (m_table.state()) {
        case Table::State::Insert:
            return QStringLiteral("*");
        case Table::State::Edit:
            return QStringLiteral("I");
        default:
            return QStringLiteral("▶");
        }
    }
    if (role == Qt::DisplayRole) return QString();
    return {};
}

int TableModel::currentRow() const {
    return m_current;
}

void TableModel::setCurrentRow(int row) {
    // The record in hand (being inserted or edited) stays in hand: moving onto it would post or discard it.
    if (row == m_table.currentPos()) return;
    m_table.moveTo(row);
}

bool TableModel::makeCurrent(int row) {
    const int target = m_table.rowAt(row);
    if (target < 0) return false;
    setCurrentRow(row);
    // Posting or discarding the record left behind may have moved the rows: edit only the record aimed at.
    return m_table.currentRow() == target;
}

void TableModel::onReset() {
    beginResetModel();
    const bool blank = m_table.controlsBlank();
    m_rows = blank ? 0 : m_table.recordCount();
    m_current = blank ? -1 : m_table.currentPos();
    endResetModel();
}

void TableModel::onInserted(int pos) {
    m_shiftFrom = pos;
    m_shift = 1;
    beginInsertRows({}, pos, pos);
    ++m_rows;
    m_shiftFrom = -1;
    if (m_current >= pos) ++m_current;
    endInsertRows();
}

void TableModel::onRemoved(int pos) {
    if (pos < 0 || pos >= m_rows) return;
    m_shiftFrom = pos;
    m_shift = -1;
    beginRemoveRows({}, pos, pos);
    --m_rows;
    m_shiftFrom = -1;
    if (m_current > pos)
        --m_current;
    else if (m_current == pos)
        m_current = -1;
    endRemoveRows();
}

void TableModel::onChanged(int pos) {
    if (pos < 0 || pos >= m_rows) return;
    emit dataChanged(index(pos, 0), index(pos, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, pos, pos);
}

void TableModel::onCurrent(int pos) {
    if (m_table.controlsBlank()) pos = -1;
    const int old = m_current;
    m_current = pos;
    if (old >= 0 && old < m_rows) emit headerDataChanged(Qt::Vertical, old, old);
    if (pos >= 0 && pos < m_rows) emit headerDataChanged(Qt::Vertical, pos, pos);
    emit currentRowChanged(pos);
}

} // namespace zentaro::db
