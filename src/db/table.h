// The table engine: records in memory, the current record, views, filters, indexes and edit states.
#pragma once

#include <functional>
#include <unordered_map>
#include <vector>

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "db/value.h"

namespace zentaro::db {

class Table;

// Learns of every stored change of a table, so a store can write it; begin/end bracket one operation
// (a post, a delete with its cascade) so that its changes are written together.
class TableObserver {
public:
    virtual ~TableObserver() = default;
    virtual void rowStored(Table& table, int row) = 0;
    virtual void rowDeleted(Table& table, int row) = 0;
    virtual void beginChange() = 0;
    virtual void endChange() = 0;
};

enum class FieldKind { Stored, Lookup, Calculated };

struct FieldDef {
    QString name;
    FieldType type = FieldType::String;
    int size = 0; // string length limit in characters; 0 for other types
    FieldKind kind = FieldKind::Stored;
    // Position among the stored fields in the table file; -1 keeps the field-list order.
    int storedPos = -1;
    // Lookup fields show resultField of the lookupTable record whose lookupKey equals this record's keyField.
    Table* lookupTable = nullptr;
    QString keyField;
    QString lookupKey;
    QString resultField;
    // Display text of the record at view position pos (-1 when unknown); replaces the default text.
    std::function<QString(const Table&, int row, int pos)> displayText;
    // Text entered by the user; false leaves the value unchanged. Replaces the default parsing.
    std::function<bool(Table&, int field, const QString& text)> setText;
};

// An in-memory table: typed columns, a current record, a filter, an order, hooks and change notifications.
// Rows are addressed by a stable row number; the view is the list of rows shown through the filter and order.
class Table : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };

    explicit Table(const QString& name, QObject* parent = nullptr);
    ~Table() override;

    const QString& tableName() const { return m_name; }

    // Definition
    int addField(const FieldDef& def);
    void addFieldDef(const QString& name, FieldType type, int size);
    void clearFields();
    void createDataSet();
    void close();
    bool isActive() const { return m_state != State::Inactive; }
    int fieldCount() const { return int(m_fields.size()); }
    const FieldDef& field(int i) const { return m_fields[size_t(i)]; }
    FieldDef& fieldDef(int i) { return m_fields[size_t(i)]; }
    int fieldIndex(const QString& name) const;
    // Stored fields in the order the table file keeps them.
    std::vector<int> storedFields() const;

    // Navigation within the view
    int recordCount() const;
    int recNo() const { return m_pos + 1; } // 1-based; 0 when there is no current record
    int currentPos() const { return m_pos; }
    bool eof() const { return m_eof; }
    bool isEmpty() const { return recordCount() == 0; }
    void first();
    void next();
    void prior();
    void last();
    bool moveTo(int pos);

    // Editing
    State state() const { return m_state; }
    bool insert();
    void edit();
    bool post();
    void cancel();
    bool deleteRecord();
    bool modified() const { return m_modified; }
    // Posts an edit, or discards an inserted record that nothing was written to.
    void checkBrowseMode();

    // Values of the current record (empty/0 when there is none)
    QVariant value(int field) const;
    QVariant value(const QString& field) const { return value(fieldIndex(field)); }
    QString asString(const QString& field) const;
    int asInteger(const QString& field) const;
    double asFloat(const QString& field) const;
    QDate asDate(const QString& field) const;
    bool isNull(const QString& field) const { return !value(field).isValid(); }
    // False (and lastError() says why) when there is no record, the field is not stored, the text is longer
    // than the field or the value has the wrong type.
    bool setValue(int field, const QVariant& v);
    bool setValue(const QString& field, const QVariant& v);
    QString displayText(int field) const;
    bool setText(int field, const QString& text);

    // Writes one stored value of any row without moving the current record or maintaining the view; for
    // passes over many records with the view switched off. refreshView() then rebuilds the view once.
    bool setRowValue(int row, int field, const QVariant& v);
    void refreshView();

    // Values by view position, for grids
    int rowAt(int pos) const;
    QVariant valueAt(int pos, int field) const;
    QString displayTextAt(int pos, int field) const;
    // Value of a row whatever the view (hooks and lookups)
    QVariant rowValue(int row, int field) const;
    int currentRow() const { return m_pos >= 0 ? rowAt(m_pos) : -1; }
    // The view position of a row; -1 when the view does not show it.
    int positionOfRow(int row) const;
    // Row whose field holds the value, among all records (filters ignored); -1 when none.
    int findRow(const QString& field, const QVariant& v) const;
    // Every such row, in row order (an integer field: from its index).
    std::vector<int> findRows(const QString& field, const QVariant& v) const;

    // Filter
    bool setFilter(const QString& text);
    const QString& filter() const { return m_filterText; }
    void setFiltered(bool on);
    bool filtered() const { return m_filtered; }
    // A further test of the rows the filter shows (engine row numbers), beside its conditions; none: all.
    void setRowFilter(std::function<bool(int row)> accepts);
    bool hasRowFilter() const { return bool(m_rowFilter); }

    // Order
    bool setIndexFieldNames(const QString& fields);
    QString indexFieldNames() const { return m_indexFieldNames; }
    bool addIndex(const QString& name, const QString& field, bool descending);
    bool deleteIndex(const QString& name);
    QStringList indexNames() const;
    bool setIndexName(const QString& name);
    QString indexName() const { return m_indexName; }

    // Search within the view, in its order; both move to the record found.
    bool findPrefix(const QString& field, const QString& prefix);
    bool locate(const QString& field, const QVariant& v);

    // View switch: while disabled, no change notifications reach grids and bound controls.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return m_disabled > 0; }
    // The view switched off for a long operation that walks the table: grids and bound controls show
    // nothing until it is switched on again, so that they take no clicks or typing meanwhile.
    void blankControls();
    void unblankControls();
    bool controlsBlank() const { return m_blank > 0; }

    QString lastError() const { return m_lastError; }

    void setObserver(TableObserver* observer) { m_observer = observer; }
    TableObserver* observer() const { return m_observer; }
    // The posted value of a stored field: for the record being edited, its value before the edit.
    QVariant postedValue(int row, int field) const;
    // The record being inserted, not yet posted; -1 when none.
    int insertRow() const { return m_state == State::Insert ? m_editRow : -1; }
    // The record being edited; -1 when none.
    int editRow() const { return m_state == State::Edit ? m_editRow : -1; }

    // Hooks; a before-hook returning false refuses silently.
    std::function<bool(Table&)> beforeInsert;
    std::function<void(Table&)> afterInsert;
    std::function<bool(Table&)> beforeDelete;
    std::function<void(Table&)> afterScroll;

    // Bulk access for the table files
    int rowCapacity() const { return int(m_alive.size()); }
    bool rowAlive(int row) const { return m_alive[size_t(row)] != 0; }
    void clearRecords();
    // Room for this many rows in every stored column, so a load of a known size grows nothing.
    void reserveRows(int rows);
    int appendRawRow();
    void setRawInt(int row, int field, qint64 v) { m_cols[size_t(field)].ints[size_t(row)] = v; }
    void setRawFloat(int row, int field, double v) { m_cols[size_t(field)].floats[size_t(row)] = v; }
    void setRawString(int row, int field, QString v) { setText(row, field, std::move(v)); }
    qint64 rawInt(int row, int field) const { return m_cols[size_t(field)].ints[size_t(row)]; }
    double rawFloat(int row, int field) const { return m_cols[size_t(field)].floats[size_t(row)]; }
    const QString& rawString(int row, int field) const { return m_cols[size_t(field)].text(row); }
    // Ends a bulk load: rebuilds the view in the current order and moves to the first record.
    void finishLoad();

signals:
    void viewReset();
    void rowChanged(int pos);
    void rowInserted(int pos);
    void rowRemoved(int pos);
    void currentChanged(int pos);

private:
    struct Column {
        enum class Kind : uint8_t { None, Int, Float, Text };
        Kind kind = Kind::None; // which vector a stored field uses; None for lookup and calculated fields
        std::vector<qint64> ints;
        std::vector<double> floats;
        // Either one text per row or, while every text of the column is empty, none at all: columns that
        // nobody fills in cost nothing per record.
        std::vector<QString> strings;
        const QString& text(int row) const {
            return size_t(row) < strings.size() ? strings[size_t(row)] : noText();
        }
    };
    struct Condition {
        int field;
        QVariant value;
    };
    struct OrderKey {
        int field;
        bool descending;
        bool operator==(const OrderKey&) const = default;
    };
    struct NamedIndex {
        QString name;
        int field;
        bool descending;
    };
    using EqIndex = std::unordered_map<qint64, std::vector<int>>;

    static const QString& noText();
    void setText(int row, int field, QString v);
    void setFieldRaw(int row, int field, const QVariant& v);
    bool rowMatches(int row) const;
    void sortRows(std::vector<int>& rows) const;
    bool less(int a, int b) const;
    int compareRows(int a, int b) const;
    std::vector<int>& activeView();
    const std::vector<int>& activeView() const;
    const std::vector<int>& allOrdered() const;
    void rebuildView(int keepRow);
    void placeInView(int row, bool wasInView, int oldPos);
    int sortedPos(const std::vector<int>& v, int row) const;
    void setPos(int pos, bool scroll);
    void discardInsert();
    const EqIndex& eqIndex(int field) const;
    void indexAdd(int row);
    void indexRemove(int row);
    void indexUpdate(int row, const std::vector<QVariant>& before);
    std::vector<QVariant> rowValues(int row) const;
    bool parseFilter(const QString& text, std::vector<Condition>& out);
    bool applyOrder(std::vector<OrderKey> keys);
    void notifyReset();
    QString defaultDisplay(int row, int field) const;

    QString m_name;
    std::vector<FieldDef> m_fields;
    QHash<QString, int> m_fieldByName;
    // The same by the names as written, so the usual look-up need not lower-case the name it is given.
    QHash<QString, int> m_fieldByExactName;
    std::vector<Column> m_cols;
    std::vector<uint8_t> m_alive;
    int m_liveCount = 0;

    State m_state = State::Inactive;
    int m_pos = -1;
    bool m_eof = true;
    bool m_modified = false;
    int m_editRow = -1;
    std::vector<QVariant> m_editBackup;

    QString m_filterText;
    std::function<bool(int row)> m_rowFilter;
    std::vector<Condition> m_conditions;
    bool m_filtered = false;
    std::vector<int> m_filteredRows;
    mutable std::vector<int> m_orderedRows;
    mutable bool m_orderedValid = false;

    std::vector<OrderKey> m_order;
    QString m_indexFieldNames;
    QString m_indexName;
    std::vector<NamedIndex> m_indexes;

    mutable std::unordered_map<int, EqIndex> m_eqIndexes;

    int m_disabled = 0;
    int m_blank = 0;
    QString m_lastError;
    TableObserver* m_observer = nullptr;
};

} // namespace zentaro::db
