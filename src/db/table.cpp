// The table engine: fields, records in memory, the current record, navigation, editing and values.
#include "db/table.h"
#include "db/table_values.h"

#include <algorithm>
#include <cmath>

#include <QRegularExpression>

namespace zentaro::db {

using detail::isIntColumn;
using detail::sameValue;

namespace {

// Brackets one operation for the table's observer, so its changes are written as one.
class ChangeScope {
public:
    explicit ChangeScope(TableObserver* o) : m_o(o) {
        if (m_o) m_o->beginChange();
    }
    ~ChangeScope() {
        if (m_o) m_o->endChange();
    }
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

private:
    TableObserver* m_o;
};

} // namespace

Table::Table(const QString& name, QObject* parent) : QObject(parent), m_name(name) {}

Table::~Table() = default;

int Table::addField(const FieldDef& def) {
    m_fields.push_back(def);
    const int idx = int(m_fields.size()) - 1;
    const QString lower = def.name.toLower();
    m_fieldByName.insert(lower, idx);
    m_fieldByExactName.removeIf([&lower](const auto& it) { return it.key().toLower() == lower; });
    m_fieldByExactName.insert(def.name, idx);
    Column col;
    if (def.kind == FieldKind::Stored) {
        const size_t n = m_alive.size();
        if (isIntColumn(def.type)) {
            col.kind = Column::Kind::Int;
            col.ints.assign(n, kNullInt);
        } else if (def.type == FieldType::Float) {
            col.kind = Column::Kind::Float;
            col.floats.assign(n, std::nan(""));
        } else {
            col.kind = Column::Kind::Text;
        }
    }
    m_cols.push_back(std::move(col));
    return idx;
}

void Table::addFieldDef(const QString& name, FieldType type, int size) {
    FieldDef d;
    d.name = name;
    d.type = type;
    d.size = type == FieldType::String ? size : 0;
    addField(d);
}

void Table::clearFields() {
    close();
    m_fields.clear();
    m_fieldByName.clear();
    m_fieldByExactName.clear();
    m_cols.clear();
    m_order.clear();
    m_indexFieldNames.clear();
    m_indexName.clear();
    m_indexes.clear();
    m_filterText.clear();
    m_conditions.clear();
}

void Table::createDataSet() {
    m_state = State::Browse;
    clearRecords();
    notifyReset();
}

void Table::close() {
    clearRecords();
    m_state = State::Inactive;
    notifyReset();
}

int Table::fieldIndex(const QString& name) const {
    if (auto it = m_fieldByExactName.constFind(name); it != m_fieldByExactName.cend()) return *it;
    return m_fieldByName.value(name.toLower(), -1);
}

std::vector<int> Table::storedFields() const {
    std::vector<int> out;
    for (int i = 0; i < fieldCount(); ++i)
        if (m_fields[size_t(i)].kind == FieldKind::Stored) out.push_back(i);
    std::stable_sort(out.begin(), out.end(), [this](int a, int b) {
        const int pa = m_fields[size_t(a)].storedPos, pb = m_fields[size_t(b)].storedPos;
        return (pa < 0 ? a : pa) < (pb < 0 ? b : pb);
    });
    return out;
}

void Table::clearRecords() {
    for (size_t i = 0; i < m_cols.size(); ++i) {
        m_cols[i].ints.clear();
        m_cols[i].floats.clear();
        m_cols[i].strings.clear();
    }
    m_alive.clear();
    m_filteredRows.clear();
    m_orderedRows.clear();
    m_orderedValid = true;
    m_eqIndexes.clear();
    m_pos = -1;
    m_eof = true;
    m_editRow = -1;
    m_modified = false;
    if (m_state != State::Inactive) m_state = State::Browse;
}

void Table::reserveRows(int rows) {
    const size_t n = size_t(std::max(rows, 0));
    m_alive.reserve(n);
    for (Column& c : m_cols) {
        c.ints.reserve(c.kind == Column::Kind::Int ? n : 0);
        c.floats.reserve(c.kind == Column::Kind::Float ? n : 0);
    }
}

const QString& Table::noText() {
    static const QString none;
    return none;
}

void Table::setText(int row, int field, QString v) {
    std::vector<QString>& texts = m_cols[size_t(field)].strings;
    if (texts.empty()) {
        if (v.isEmpty()) return;
        texts.reserve(m_alive.capacity());
        texts.resize(m_alive.size());
    }
    texts[size_t(row)] = std::move(v);
}

int Table::appendRawRow() {
    const int row = int(m_alive.size());
    m_alive.push_back(1);
    for (Column& c : m_cols) {
        switch (c.kind) {
        case Column::Kind::Int:
            c.ints.push_back(kNullInt);
            break;
        case Column::Kind::Float:
            c.floats.push_back(std::nan(""));
            break;
        case Column::Kind::Text:
            if (!c.strings.empty()) c.strings.emplace_back();
            break;
        case Column::Kind::None:
            break;
        }
    }
    return row;
}

void Table::finishLoad() {
    m_orderedValid = false;
    m_eqIndexes.clear();
    rebuildView(-1);
    if (m_pos >= 0 && afterScroll) afterScroll(*this);
}

// ---- navigation ----

void Table::first() {
    checkBrowseMode();
    setPos(recordCount() == 0 ? -1 : 0, true);
}

void Table::last() {
    checkBrowseMode();
    setPos(recordCount() - 1, true);
}

void Table::next() {
    checkBrowseMode();
    if (m_pos + 1 < recordCount()) {
        setPos(m_pos + 1, true);
    } else {
        m_eof = true;
    }
}

void Table::prior() {
    checkBrowseMode();
    if (m_pos > 0) setPos(m_pos - 1, true);
    m_eof = recordCount() == 0;
}

bool Table::moveTo(int pos) {
    if (pos < 0 || pos >= recordCount()) return false;
    if (pos == m_pos && m_state == State::Browse) return true;
    const int row = rowAt(pos);
    checkBrowseMode();
    // Posting or discarding the edited record may have moved rows; follow the record that was aimed at.
    const auto& v = activeView();
    auto it = std::find(v.begin(), v.end(), row);
    if (it == v.end()) return false;
    const int target = int(it - v.begin());
    if (target != m_pos || m_eof) setPos(target, true);
    return true;
}

// ---- editing ----

std::vector<QVariant> Table::rowValues(int row) const {
    std::vector<QVariant> out(m_fields.size());
    for (int f = 0; f < fieldCount(); ++f)
        if (m_fields[size_t(f)].kind == FieldKind::Stored) out[size_t(f)] = rowValue(row, f);
    return out;
}

void Table::setFieldRaw(int row, int field, const QVariant& v) {
    const FieldDef& f = m_fields[size_t(field)];
    Column& c = m_cols[size_t(field)];
    const bool empty = !v.isValid() || v.isNull();
    switch (f.type) {
    case FieldType::Integer:
        c.ints[size_t(row)] = empty ? kNullInt : v.toLongLong();
        break;
    case FieldType::Date:
        c.ints[size_t(row)] = empty ? kNullInt : v.toDate().toJulianDay();
        break;
    case FieldType::Float:
        c.floats[size_t(row)] = empty ? std::nan("") : v.toDouble();
        break;
    case FieldType::String:
        setText(row, field, empty ? QString() : v.toString());
        break;
    }
}

bool Table::insert() {
    if (!isActive()) return false;
    checkBrowseMode();
    if (beforeInsert && !beforeInsert(*this)) return false;
    const int row = appendRawRow();
    auto& v = activeView();
    const int pos = m_pos < 0 ? (v.empty() ? 0 : int(v.size())) : m_pos;
    v.insert(v.begin() + pos, row);
    m_state = State::Insert;
    m_editRow = row;
    m_modified = false;
    m_pos = pos;
    m_eof = false;
    if (!m_disabled) {
        emit rowInserted(pos);
        emit currentChanged(pos);
    }
    if (afterInsert) afterInsert(*this);
    if (afterScroll) afterScroll(*this);
    return true;
}

void Table::edit() {
    if (m_state != State::Browse || m_pos < 0) return;
    m_editRow = currentRow();
    m_editBackup = rowValues(m_editRow);
    m_modified = false;
    m_state = State::Edit;
}

bool Table::post() {
    if (m_state == State::Insert) {
        const ChangeScope scope(m_observer);
        const int row = m_editRow;
        const int oldPos = m_pos;
        m_state = State::Browse;
        m_editRow = -1;
        m_modified = false;
        indexAdd(row);
        if (m_observer) m_observer->rowStored(*this, row);
        placeInView(row, true, oldPos);
        return true;
    }
    if (m_state == State::Edit) {
        const ChangeScope scope(m_observer);
        const int row = m_editRow;
        m_state = State::Browse;
        m_editRow = -1;
        m_modified = false;
        indexUpdate(row, m_editBackup);
        m_editBackup.clear();
        if (m_observer) m_observer->rowStored(*this, row);
        placeInView(row, true, m_pos);
        return true;
    }
    return m_state == State::Browse;
}

void Table::discardInsert() {
    const int row = m_editRow;
    auto& v = activeView();
    auto it = std::find(v.begin(), v.end(), row);
    const int pos = it == v.end() ? m_pos : int(it - v.begin());
    if (it != v.end()) v.erase(it);
    m_alive[size_t(row)] = 0;
    m_state = State::Browse;
    m_editRow = -1;
    m_modified = false;
    const int count = int(v.size());
    m_pos = count == 0 ? -1 : std::min(pos, count - 1);
    m_eof = count == 0;
    if (!m_disabled) {
        emit rowRemoved(pos);
        emit currentChanged(m_pos);
    }
}

void Table::cancel() {
    if (m_state == State::Insert) {
        discardInsert();
    } else if (m_state == State::Edit) {
        for (int f = 0; f < fieldCount(); ++f)
            if (m_fields[size_t(f)].kind == FieldKind::Stored)
                setFieldRaw(m_editRow, f, m_editBackup[size_t(f)]);
        m_state = State::Browse;
        m_editRow = -1;
        m_modified = false;
        m_editBackup.clear();
        if (!m_disabled) emit rowChanged(m_pos);
    }
}

void Table::checkBrowseMode() {
    if (m_state == State::Insert && !m_modified)
        discardInsert();
    else if (m_state == State::Insert || m_state == State::Edit)
        post();
}

bool Table::deleteRecord() {
    if (!isActive() || m_pos < 0) return false;
    if (m_state == State::Insert) {
        discardInsert();
        if (afterScroll) afterScroll(*this);
        return true;
    }
    cancel();
    // The delete and every cascade its rules run are one change.
    const ChangeScope scope(m_observer);
    const int row = currentRow();
    if (beforeDelete && !beforeDelete(*this)) return false;
    if (!m_alive[size_t(row)]) return false;
    if (m_observer) m_observer->rowDeleted(*this, row);
    auto& v = activeView();
    auto it = std::find(v.begin() + std::max(0, std::min(m_pos, int(v.size()))), v.end(), row);
    if (it == v.end()) it = std::find(v.begin(), v.end(), row);
    const int pos = it == v.end() ? -1 : int(it - v.begin());
    indexRemove(row);
    m_alive[size_t(row)] = 0;
    if (pos >= 0) v.erase(v.begin() + pos);
    // The unfiltered list is rebuilt when it is next needed; finding the row in it costs a full scan.
    if (m_filtered) m_orderedValid = false;
    const int count = int(v.size());
    m_pos = count == 0 ? -1 : std::min(std::max(pos, 0), count - 1);
    m_eof = count == 0;
    if (!m_disabled) {
        if (pos >= 0) emit rowRemoved(pos);
        emit currentChanged(m_pos);
    }
    if (afterScroll) afterScroll(*this);
    return true;
}

// ---- values ----

bool Table::setRowValue(int row, int field, const QVariant& v) {
    if (row < 0 || row >= int(m_alive.size()) || !m_alive[size_t(row)] || field < 0 ||
        field >= fieldCount() || m_fields[size_t(field)].kind != FieldKind::Stored)
        return false;
    if (m_fields[size_t(field)].type == FieldType::String && m_fields[size_t(field)].size > 0 &&
        v.toString().size() > m_fields[size_t(field)].size)
        return false;
    std::vector<QVariant> before;
    if (!m_eqIndexes.empty()) before = rowValues(row);
    setFieldRaw(row, field, v);
    if (!before.empty()) indexUpdate(row, before);
    if (m_observer && row != insertRow()) {
        const ChangeScope scope(m_observer);
        m_observer->rowStored(*this, row);
    }
    return true;
}

QVariant Table::postedValue(int row, int field) const {
    if (m_state == State::Edit && row == m_editRow && field >= 0 && size_t(field) < m_editBackup.size())
        return m_editBackup[size_t(field)];
    return rowValue(row, field);
}

void Table::refreshView() {
    checkBrowseMode();
    const int row = currentRow();
    m_orderedValid = false;
    rebuildView(row);
}

QVariant Table::rowValue(int row, int field) const {
    if (row < 0 || field < 0 || field >= fieldCount()) return {};
    const FieldDef& f = m_fields[size_t(field)];
    if (f.kind == FieldKind::Calculated) return {};
    if (f.kind == FieldKind::Lookup) {
        if (!f.lookupTable) return {};
        const QVariant key = rowValue(row, fieldIndex(f.keyField));
        if (!key.isValid() || (key.typeId() != QMetaType::QString && key.toLongLong() == 0)) return {};
        const int other = f.lookupTable->findRow(f.lookupKey, key);
        if (other < 0) return {};
        const int rf = f.lookupTable->fieldIndex(f.resultField);
        const QVariant r = f.lookupTable->rowValue(other, rf);
        if (!r.isValid()) return {};
        return f.type == FieldType::String ? QVariant(formatValue(f.lookupTable->field(rf).type, r)) : r;
    }
    const Column& c = m_cols[size_t(field)];
    switch (f.type) {
    case FieldType::Integer: {
        const qint64 v = c.ints[size_t(row)];
        return v == kNullInt ? QVariant() : QVariant(int(v));
    }
    case FieldType::Date: {
        const qint64 v = c.ints[size_t(row)];
        return v == kNullInt ? QVariant() : QVariant(QDate::fromJulianDay(v));
    }
    case FieldType::Float: {
        const double v = c.floats[size_t(row)];
        return std::isnan(v) ? QVariant() : QVariant(v);
    }
    case FieldType::String: {
        const QString& s = c.text(row);
        return s.isEmpty() ? QVariant() : QVariant(s);
    }
    }
    return {};
}

std::vector<int> Table::findRows(const QString& fieldName, const QVariant& v) const {
    std::vector<int> out;
    const int field = fieldIndex(fieldName);
    if (field < 0 || !v.isValid()) return out;
    const FieldDef& f = m_fields[size_t(field)];
    if (f.kind == FieldKind::Stored && isIntColumn(f.type)) {
        bool ok = true;
        const qint64 key = f.type == FieldType::Date ? v.toDate().toJulianDay() : v.toLongLong(&ok);
        if (!ok) return out;
        const EqIndex& idx = eqIndex(field);
        if (auto it = idx.find(key); it != idx.end()) out = it->second;
        std::sort(out.begin(), out.end());
        return out;
    }
    for (int r = 0; r < int(m_alive.size()); ++r)
        if (m_alive[size_t(r)] && sameValue(f.type, rowValue(r, field), v)) out.push_back(r);
    return out;
}

int Table::findRow(const QString& fieldName, const QVariant& v) const {
    const int field = fieldIndex(fieldName);
    if (field < 0 || !v.isValid()) return -1;
    const FieldDef& f = m_fields[size_t(field)];
    if (f.kind == FieldKind::Stored && isIntColumn(f.type)) {
        bool ok = true;
        const qint64 key = f.type == FieldType::Date ? v.toDate().toJulianDay() : v.toLongLong(&ok);
        if (!ok) return -1;
        const EqIndex& idx = eqIndex(field);
        auto it = idx.find(key);
        if (it == idx.end() || it->second.empty()) return -1;
        return *std::min_element(it->second.begin(), it->second.end());
    }
    for (int r = 0; r < int(m_alive.size()); ++r)
        if (m_alive[size_t(r)] && sameValue(f.type, rowValue(r, field), v)) return r;
    return -1;
}

QVariant Table::value(int field) const {
    return rowValue(currentRow(), field);
}

QString Table::asString(const QString& field) const {
    const int f = fieldIndex(field);
    return f < 0 ? QString() : formatValue(m_fields[size_t(f)].type, value(f));
}

int Table::asInteger(const QString& field) const {
    return value(field).toInt();
}

double Table::asFloat(const QString& field) const {
    return value(field).toDouble();
}

QDate Table::asDate(const QString& field) const {
    return value(field).toDate();
}

bool Table::setValue(const QString& field, const QVariant& v) {
    const int f = fieldIndex(field);
    if (f < 0) {
        m_lastError = QStringLiteral("Поле \"%1\" не найдено").arg(field);
        return false;
    }
    return setValue(f, v);
}

bool Table::setValue(int field, const QVariant& v) {
    if (!isActive() || m_pos < 0 || field < 0 || field >= fieldCount()) {
        m_lastError = QStringLiteral("Нет текущей записи");
        return false;
    }
    const FieldDef& f = m_fields[size_t(field)];
    if (f.kind != FieldKind::Stored) {
        m_lastError = QStringLiteral("Поле \"%1\" только для чтения").arg(f.name);
        return false;
    }
    QVariant val = v;
    if (val.isValid() && !val.isNull()) {
        bool ok = true;
        switch (f.type) {
        case FieldType::Integer: {
            const qlonglong i = val.toLongLong(&ok);
            ok = ok && i >= INT32_MIN && i <= INT32_MAX;
            break;
        }
        case FieldType::Float:
            val.toDouble(&ok);
            break;
        case FieldType::Date:
            ok = val.toDate().isValid();
            break;
        case FieldType::String: {
            const QString s = val.toString();
            if (f.size > 0 && s.size() > f.size) {
                m_lastError = QStringLiteral("Текст длиннее поля \"%1\" (не более %2 символов)")
                                  .arg(f.name)
                                  .arg(f.size);
                return false;
            }
            if (s.isEmpty()) val = QVariant();
            break;
        }
        }
        if (!ok) {
            m_lastError = QStringLiteral("Недопустимое значение поля \"%1\"").arg(f.name);
            return false;
        }
    }
    if (m_state == State::Browse) edit();
    setFieldRaw(currentRow(), field, val);
    m_modified = true;
    if (!m_disabled) emit rowChanged(m_pos);
    return true;
}

QString Table::defaultDisplay(int row, int field) const {
    const FieldDef& f = m_fields[size_t(field)];
    const QVariant v = rowValue(row, field);
    return f.kind == FieldKind::Lookup ? v.toString() : formatValue(f.type, v);
}

QString Table::displayText(int field) const {
    return displayTextAt(m_pos, field);
}

QString Table::displayTextAt(int pos, int field) const {
    const int row = rowAt(pos);
    if (row < 0 || field < 0 || field >= fieldCount()) return {};
    const FieldDef& f = m_fields[size_t(field)];
    if (f.displayText) return f.displayText(*this, row, pos);
    return defaultDisplay(row, field);
}

QVariant Table::valueAt(int pos, int field) const {
    return rowValue(rowAt(pos), field);
}

bool Table::setText(int field, const QString& text) {
    if (field < 0 || field >= fieldCount()) return false;
    const FieldDef& f = m_fields[size_t(field)];
    if (f.setText) return f.setText(*this, field, text);
    QVariant v;
    if (!parseValue(f.type, text, v)) {
        m_lastError = QStringLiteral("Недопустимое значение поля \"%1\"").arg(f.name);
        return false;
    }
    return setValue(field, v);
}

// ---- view switch ----

void Table::disableControls() {
    ++m_disabled;
}

void Table::enableControls() {
    if (m_disabled == 0) return;
    if (--m_disabled == 0) notifyReset();
}

void Table::blankControls() {
    ++m_disabled;
    // Told directly: the switched-off view says nothing else until it is back.
    if (m_blank++ == 0) {
        emit viewReset();
        emit currentChanged(-1);
    }
}

void Table::unblankControls() {
    if (m_blank == 0) return;
    --m_blank;
    enableControls();
}

} // namespace zentaro::db
