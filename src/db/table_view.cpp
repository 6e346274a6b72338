// The table engine's views: the order, the filter, the equality indexes and the searches within a view.
#include "db/table.h"
#include "db/table_values.h"

#include <algorithm>
#include <cmath>

#include <QRegularExpression>

namespace zentaro::db {

using detail::isIntColumn;
using detail::sameValue;

namespace {

// Ordinal comparison of the case-folded texts: the same order the folded sort keys give.
int compareStrings(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty()) return int(!a.isEmpty()) - int(!b.isEmpty());
    return QString::compare(a.toCaseFolded(), b.toCaseFolded(), Qt::CaseSensitive);
}

} // namespace

// ---- views ----

std::vector<int>& Table::activeView() {
    if (m_filtered) return m_filteredRows;
    allOrdered();
    return m_orderedRows;
}

const std::vector<int>& Table::activeView() const {
    return m_filtered ? m_filteredRows : allOrdered();
}

const std::vector<int>& Table::allOrdered() const {
    if (!m_orderedValid) {
        m_orderedRows.clear();
        m_orderedRows.reserve(m_alive.size());
        for (int r = 0; r < int(m_alive.size()); ++r)
            if (m_alive[size_t(r)] && !(m_state == State::Insert && r == m_editRow))
                m_orderedRows.push_back(r);
        sortRows(m_orderedRows);
        m_orderedValid = true;
    }
    return m_orderedRows;
}

int Table::recordCount() const {
    return m_state == State::Inactive ? 0 : int(activeView().size());
}

int Table::rowAt(int pos) const {
    const auto& v = activeView();
    return pos >= 0 && pos < int(v.size()) ? v[size_t(pos)] : -1;
}

int Table::positionOfRow(int row) const {
    const auto& v = activeView();
    auto it = std::find(v.begin(), v.end(), row);
    return it == v.end() ? -1 : int(it - v.begin());
}

int Table::compareRows(int a, int b) const {
    for (const OrderKey& k : m_order) {
        const FieldDef& f = m_fields[size_t(k.field)];
        const Column& c = m_cols[size_t(k.field)];
        int r = 0;
        if (isIntColumn(f.type)) {
            const qint64 x = c.ints[size_t(a)], y = c.ints[size_t(b)];
            r = x < y ? -1 : (x > y ? 1 : 0);
        } else if (f.type == FieldType::Float) {
            const double x = c.floats[size_t(a)], y = c.floats[size_t(b)];
            const bool nx = std::isnan(x), ny = std::isnan(y);
            r = nx || ny ? int(ny) - int(nx) : (x < y ? -1 : (x > y ? 1 : 0));
        } else {
            r = compareStrings(c.text(a), c.text(b));
        }
        if (r != 0) return k.descending ? -r : r;
    }
    return 0;
}

bool Table::less(int a, int b) const {
    const int r = compareRows(a, b);
    return r != 0 ? r < 0 : a < b;
}

void Table::sortRows(std::vector<int>& rows) const {
    if (m_order.empty()) {
        std::sort(rows.begin(), rows.end());
        return;
    }
    auto lessRow = [this](int a, int b) { return less(a, b); };
    if (std::is_sorted(rows.begin(), rows.end(), lessRow)) return;
    // Case-insensitive text compares dominate big sorts; fold each text once and compare the folded copies.
    const OrderKey& k = m_order.front();
    if (m_order.size() == 1 && m_fields[size_t(k.field)].type == FieldType::String && rows.size() > 64) {
        const Column& col = m_cols[size_t(k.field)];
        std::vector<std::pair<QString, int>> keyed;
        keyed.reserve(rows.size());
        for (int r : rows)
            keyed.emplace_back(col.text(r).toCaseFolded(), r);
        std::sort(keyed.begin(), keyed.end(), [&k](const auto& a, const auto& b) {
            const int c = QString::compare(a.first, b.first, Qt::CaseSensitive);
            if (c != 0) return k.descending ? c > 0 : c < 0;
            return a.second < b.second;
        });
        for (size_t i = 0; i < rows.size(); ++i)
            rows[i] = keyed[i].second;
        return;
    }
    std::sort(rows.begin(), rows.end(), lessRow);
}

bool Table::rowMatches(int row) const {
    for (const Condition& c : m_conditions) {
        if (!sameValue(m_fields[size_t(c.field)].type, rowValue(row, c.field), c.value)) return false;
    }
    return !m_rowFilter || m_rowFilter(row);
}

void Table::setRowFilter(std::function<bool(int row)> accepts) {
    checkBrowseMode();
    m_rowFilter = std::move(accepts);
    if (m_filtered && isActive()) {
        rebuildView(-1);
        if (afterScroll) afterScroll(*this);
    }
}

const Table::EqIndex& Table::eqIndex(int field) const {
    auto it = m_eqIndexes.find(field);
    if (it != m_eqIndexes.end()) return it->second;
    EqIndex idx;
    const auto& col = m_cols[size_t(field)].ints;
    for (int r = 0; r < int(m_alive.size()); ++r) {
        if (!m_alive[size_t(r)] || (m_state == State::Insert && r == m_editRow)) continue;
        // The index holds posted values only: the record being edited is indexed by its stored value.
        if (m_state == State::Edit && r == m_editRow) {
            const QVariant& old = m_editBackup[size_t(field)];
            qint64 key = kNullInt;
            if (old.isValid())
                key = m_fields[size_t(field)].type == FieldType::Date ? old.toDate().toJulianDay()
                                                                      : old.toLongLong();
            idx[key].push_back(r);
            continue;
        }
        idx[col[size_t(r)]].push_back(r);
    }
    return m_eqIndexes.emplace(field, std::move(idx)).first->second;
}

void Table::indexAdd(int row) {
    for (auto& [field, idx] : m_eqIndexes)
        idx[m_cols[size_t(field)].ints[size_t(row)]].push_back(row);
}

void Table::indexRemove(int row) {
    for (auto& [field, idx] : m_eqIndexes) {
        auto it = idx.find(m_cols[size_t(field)].ints[size_t(row)]);
        if (it == idx.end()) continue;
        auto& v = it->second;
        v.erase(std::remove(v.begin(), v.end(), row), v.end());
        if (v.empty()) idx.erase(it);
    }
}

void Table::indexUpdate(int row, const std::vector<QVariant>& before) {
    for (auto& [field, idx] : m_eqIndexes) {
        const qint64 now = m_cols[size_t(field)].ints[size_t(row)];
        const QVariant& old = before[size_t(field)];
        qint64 was = kNullInt;
        if (old.isValid())
            was = m_fields[size_t(field)].type == FieldType::Date ? old.toDate().toJulianDay()
                                                                  : old.toLongLong();
        if (was == now) continue;
        auto it = idx.find(was);
        if (it != idx.end()) {
            auto& v = it->second;
            v.erase(std::remove(v.begin(), v.end(), row), v.end());
            if (v.empty()) idx.erase(it);
        }
        idx[now].push_back(row);
    }
}

void Table::rebuildView(int keepRow) {
    const int oldRow = keepRow;
    if (m_filtered) {
        m_filteredRows.clear();
        const Condition* indexed = nullptr;
        for (const Condition& c : m_conditions)
            if (isIntColumn(m_fields[size_t(c.field)].type)) {
                indexed = &c;
                break;
            }
        if (indexed) {
            const FieldType t = m_fields[size_t(indexed->field)].type;
            const qint64 key =
                t == FieldType::Date ? indexed->value.toDate().toJulianDay() : indexed->value.toLongLong();
            const EqIndex& idx = eqIndex(indexed->field);
            auto it = idx.find(key);
            if (it != idx.end())
                for (int r : it->second)
                    if (rowMatches(r)) m_filteredRows.push_back(r);
        } else {
            for (int r = 0; r < int(m_alive.size()); ++r)
                if (m_alive[size_t(r)] && rowMatches(r)) m_filteredRows.push_back(r);
        }
        sortRows(m_filteredRows);
    }
    const auto& v = activeView();
    int pos = v.empty() ? -1 : 0;
    if (oldRow >= 0) {
        auto it = std::find(v.begin(), v.end(), oldRow);
        if (it != v.end()) pos = int(it - v.begin());
    }
    m_pos = pos;
    m_eof = v.empty();
    notifyReset();
}

int Table::sortedPos(const std::vector<int>& v, int row) const {
    return int(std::lower_bound(v.begin(), v.end(), row, [this](int a, int b) { return less(a, b); }) -
               v.begin());
}

void Table::placeInView(int row, bool wasInView, int oldPos) {
    // Takes the row out of every list it may stand in and puts it back at its sorted place.
    auto eraseRow = [row](std::vector<int>& v) {
        auto it = std::find(v.begin(), v.end(), row);
        if (it != v.end()) v.erase(it);
    };
    if (m_filtered) {
        m_orderedValid = false;
    } else if (m_orderedValid) {
        eraseRow(m_orderedRows);
        if (m_alive[size_t(row)])
            m_orderedRows.insert(m_orderedRows.begin() + sortedPos(m_orderedRows, row), row);
    }
    int newPos = -1;
    if (m_filtered) {
        eraseRow(m_filteredRows);
        if (m_alive[size_t(row)] && rowMatches(row)) {
            newPos = sortedPos(m_filteredRows, row);
            m_filteredRows.insert(m_filteredRows.begin() + newPos, row);
        }
    } else {
        const auto& v = allOrdered();
        auto it = std::find(v.begin(), v.end(), row);
        newPos = it == v.end() ? -1 : int(it - v.begin());
    }
    const int count = int(activeView().size());
    if (wasInView && newPos == oldPos) {
        if (!m_disabled) emit rowChanged(newPos);
    } else {
        if (wasInView && !m_disabled) emit rowRemoved(oldPos);
        if (newPos >= 0 && !m_disabled) emit rowInserted(newPos);
    }
    if (newPos >= 0)
        m_pos = newPos;
    else
        m_pos = count == 0 ? -1 : std::min(oldPos, count - 1);
    m_eof = count == 0;
    if (!m_disabled) emit currentChanged(m_pos);
}

void Table::setPos(int pos, bool scroll) {
    m_pos = pos;
    m_eof = pos < 0;
    if (!m_disabled) emit currentChanged(pos);
    if (scroll && afterScroll) afterScroll(*this);
}

void Table::notifyReset() {
    if (m_disabled) return;
    emit viewReset();
    emit currentChanged(m_pos);
}

// ---- filter ----

bool Table::parseFilter(const QString& text, std::vector<Condition>& out) {
    out.clear();
    const QString t = text.trimmed();
    if (t.isEmpty()) return true;
    static const QRegularExpression andSep(QStringLiteral("\\s+and\\s+"),
                                           QRegularExpression::CaseInsensitiveOption);
    for (const QString& part : t.split(andSep)) {
        const qsizetype eq = part.indexOf(u'=');
        if (eq <= 0) {
            m_lastError = QStringLiteral("Неверный фильтр: \"%1\"").arg(part);
            return false;
        }
        const QString name = part.left(eq).trimmed();
        QString val = part.mid(eq + 1).trimmed();
        const int f = fieldIndex(name);
        if (f < 0 || m_fields[size_t(f)].kind != FieldKind::Stored) {
            m_lastError = QStringLiteral("Неизвестное поле в фильтре: \"%1\"").arg(name);
            return false;
        }
        if (val.size() >= 2 && val.startsWith(u'\'') && val.endsWith(u'\'')) val = val.mid(1, val.size() - 2);
        QVariant v;
        if (!parseValue(m_fields[size_t(f)].type, val, v) || !v.isValid()) {
            m_lastError = QStringLiteral("Неверное значение в фильтре: \"%1\"").arg(part);
            return false;
        }
        out.push_back({f, v});
    }
    return true;
}

bool Table::setFilter(const QString& text) {
    if (text == m_filterText) return true;
    std::vector<Condition> conds;
    if (!parseFilter(text, conds)) return false;
    checkBrowseMode();
    m_filterText = text;
    m_conditions = std::move(conds);
    if (m_filtered && isActive()) {
        rebuildView(-1);
        if (afterScroll) afterScroll(*this);
    }
    return true;
}

void Table::setFiltered(bool on) {
    if (on == m_filtered) return;
    checkBrowseMode();
    m_filtered = on;
    if (!isActive()) return;
    rebuildView(-1);
    if (afterScroll) afterScroll(*this);
}

// ---- order ----

bool Table::applyOrder(std::vector<OrderKey> keys) {
    checkBrowseMode();
    if (keys == m_order) return true;
    const int oldRow = currentRow();
    m_order = std::move(keys);
    m_orderedValid = false;
    if (!isActive()) return true;
    rebuildView(oldRow);
    if (currentRow() != oldRow && m_pos >= 0 && afterScroll) afterScroll(*this);
    return true;
}

bool Table::setIndexFieldNames(const QString& fields) {
    std::vector<OrderKey> keys;
    for (const QString& name : fields.split(u';', Qt::SkipEmptyParts)) {
        const int f = fieldIndex(name.trimmed());
        if (f < 0 || m_fields[size_t(f)].kind != FieldKind::Stored) {
            m_lastError = QStringLiteral("Неизвестное поле: \"%1\"").arg(name);
            return false;
        }
        keys.push_back({f, false});
    }
    m_indexFieldNames = fields;
    m_indexName.clear();
    return applyOrder(std::move(keys));
}

bool Table::addIndex(const QString& name, const QString& fieldName, bool descending) {
    const int f = fieldIndex(fieldName);
    if (f < 0 || m_fields[size_t(f)].kind != FieldKind::Stored || name.isEmpty()) {
        m_lastError = QStringLiteral("Неизвестное поле: \"%1\"").arg(fieldName);
        return false;
    }
    for (NamedIndex& i : m_indexes)
        if (i.name.compare(name, Qt::CaseInsensitive) == 0) {
            i = {name, f, descending};
            return true;
        }
    m_indexes.push_back({name, f, descending});
    return true;
}

bool Table::deleteIndex(const QString& name) {
    auto it = std::find_if(m_indexes.begin(), m_indexes.end(), [&](const NamedIndex& i) {
        return i.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (it == m_indexes.end()) return false;
    const bool active = m_indexName.compare(name, Qt::CaseInsensitive) == 0;
    m_indexes.erase(it);
    if (active) {
        m_indexName.clear();
        applyOrder({});
    }
    return true;
}

QStringList Table::indexNames() const {
    QStringList out;
    for (const NamedIndex& i : m_indexes)
        out << i.name;
    return out;
}

bool Table::setIndexName(const QString& name) {
    for (const NamedIndex& i : m_indexes)
        if (i.name.compare(name, Qt::CaseInsensitive) == 0) {
            m_indexName = i.name;
            m_indexFieldNames.clear();
            return applyOrder({{i.field, i.descending}});
        }
    m_lastError = QStringLiteral("Индекс \"%1\" не найден").arg(name);
    return false;
}

// ---- search ----

bool Table::findPrefix(const QString& fieldName, const QString& prefix) {
    const int f = fieldIndex(fieldName);
    if (f < 0) return false;
    checkBrowseMode();
    const int n = recordCount();
    for (int pos = 0; pos < n; ++pos) {
        if (displayTextAt(pos, f).startsWith(prefix, Qt::CaseInsensitive)) {
            setPos(pos, true);
            return true;
        }
    }
    return false;
}

bool Table::locate(const QString& fieldName, const QVariant& v) {
    const int f = fieldIndex(fieldName);
    if (f < 0) return false;
    checkBrowseMode();
    const FieldType t = m_fields[size_t(f)].type;
    if (m_fields[size_t(f)].kind == FieldKind::Stored && isIntColumn(t) && v.isValid()) {
        // The index names the rows holding the value; the view is searched for those rows only.
        bool ok = true;
        const qint64 key = t == FieldType::Date ? v.toDate().toJulianDay() : v.toLongLong(&ok);
        const EqIndex& idx = eqIndex(f);
        auto it = idx.find(key);
        if (!ok || it == idx.end()) return false;
        std::vector<int> rows = it->second;
        std::sort(rows.begin(), rows.end());
        const auto& view = activeView();
        for (int pos = 0; pos < int(view.size()); ++pos) {
            if (std::binary_search(rows.begin(), rows.end(), view[size_t(pos)])) {
                setPos(pos, true);
                return true;
            }
        }
        return false;
    }
    const int n = recordCount();
    for (int pos = 0; pos < n; ++pos) {
        if (sameValue(t, valueAt(pos, f), v)) {
            setPos(pos, true);
            return true;
        }
    }
    return false;
}

} // namespace zentaro::db
