#pragma once

#include <initializer_list>
#include <utility>

#include <gtest/gtest.h>

#include <QVariant>

#include "db/database.h"
#include "db/table.h"

namespace zentaro::test {

using Values = std::initializer_list<std::pair<const char*, QVariant>>;

// Adds a record through the table's insert (and so its rules), gives it the values and stores it.
// Returns its ID, or -1 when the insert was refused.
inline int addRecord(db::Table& t, Values values = {}) {
    if (!t.insert()) return -1;
    for (const auto& [k, v] : values)
        EXPECT_TRUE(t.setValue(QString::fromLatin1(k), v)) << k;
    t.post();
    return t.asInteger(QStringLiteral("ID"));
}

// Opens the store without table files and the check history in the folder: the store's connection holds
// only the history file, written at each change. Call through ASSERT_NO_FATAL_FAILURE.
inline void openHistoryOnly(db::Database& db, const QString& folder) {
    QString err;
    ASSERT_TRUE(db.store.open(QString(), &err)) << err.toStdString();
    db.store.setDeferred(false);
    ASSERT_TRUE(db.checks.open(folder + QStringLiteral("checks.adb"), &err)) << err.toStdString();
}

} // namespace zentaro::test
