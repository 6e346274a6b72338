// Taking link pages out together with their anchors, and putting them back as one.
#include "db/link_removal.h"

#include <algorithm>

#include "db/database.h"
#include "db/store.h"

namespace zentaro::db {

namespace {

std::vector<QVariant> storedValues(const Table& t, int row) {
    std::vector<QVariant> values;
    for (const int f : t.storedFields())
        values.push_back(t.rowValue(row, f));
    return values;
}

// Adds a record with these stored values as program code does: no insert rules, its own number.
void putBack(Database& db, Table& t, const std::vector<QVariant>& values) {
    db.InsFlag = true;
    const bool inserted = t.insert();
    db.InsFlag = false;
    if (!inserted) return;
    const std::vector<int> fields = t.storedFields();
    for (size_t i = 0; i < fields.size() && i < values.size(); ++i)
        if (values[i].isValid()) t.setValue(fields[i], values[i]);
    t.post();
}

// Keeps a table's filter as it was across a pass that must reach every record.
class AllRecords {
public:
    explicit AllRecords(Table& t) : m_t(t), m_was(t.filtered()) { m_t.setFiltered(false); }
    ~AllRecords() { m_t.setFiltered(m_was); }
    AllRecords(const AllRecords&) = delete;
    AllRecords& operator=(const AllRecords&) = delete;

private:
    Table& m_t;
    bool m_was;
};

} // namespace

RemovedLinks deleteLinks(Database& db, const std::vector<int>& ids) {
    RemovedLinks removed;
    Table& links = db.tbLink;
    Table& anchors = db.tbAncor;
    const int linkField = anchors.fieldIndex(QStringLiteral("LinkID"));
    const Change change(db.store);
    const AllRecords all(links);
    for (const int id : ids) {
        const int row = links.findRow(QStringLiteral("ID"), id);
        if (row < 0) continue;
        const int pos = links.positionOfRow(row);
        if (pos < 0 || !links.moveTo(pos)) continue;
        std::vector<QVariant> values = storedValues(links, row);
        std::vector<std::vector<QVariant>> own;
        for (const int a : anchors.findRows(QStringLiteral("LinkID"), id))
            if (anchors.rowAlive(a) && anchors.rowValue(a, linkField).toInt() == id)
                own.push_back(storedValues(anchors, a));
        if (!links.deleteRecord()) continue;
        removed.links.push_back(std::move(values));
        for (auto& a : own)
            removed.anchors.push_back(std::move(a));
    }
    return removed;
}

bool restoreLinks(Database& db, const RemovedLinks& removed) {
    Table& links = db.tbLink;
    Table& anchors = db.tbAncor;
    const std::vector<int> linkFields = links.storedFields(), anchorFields = anchors.storedFields();
    auto idOf = [](const Table& t, const std::vector<int>& fields, const std::vector<QVariant>& values) {
        for (size_t i = 0; i < fields.size() && i < values.size(); ++i)
            if (t.field(fields[i]).name == QLatin1String("ID")) return values[i].toInt();
        return 0;
    };
    for (const auto& v : removed.links)
        if (links.findRow(QStringLiteral("ID"), idOf(links, linkFields, v)) >= 0) return false;
    for (const auto& v : removed.anchors)
        if (anchors.findRow(QStringLiteral("ID"), idOf(anchors, anchorFields, v)) >= 0) return false;
    const Change change(db.store);
    for (const auto& v : removed.links)
        putBack(db, links, v);
    for (const auto& v : removed.anchors)
        putBack(db, anchors, v);
    return true;
}

std::vector<int> linksAbove(const Database& db, int id) {
    std::vector<int> ids;
    const Table& t = db.tbLink;
    const int idField = t.fieldIndex(QStringLiteral("ID"));
    for (int row = 0; row < t.rowCapacity(); ++row)
        if (t.rowAlive(row) && t.rowValue(row, idField).toInt() > id)
            ids.push_back(t.rowValue(row, idField).toInt());
    std::sort(ids.begin(), ids.end());
    return ids;
}

int highestLinkId(const Database& db) {
    const std::vector<int> all = linksAbove(db, 0);
    return all.empty() ? 0 : all.back();
}

} // namespace zentaro::db
