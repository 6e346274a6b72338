#pragma once

#include <initializer_list>
#include <utility>

#include <gtest/gtest.h>

#include <QVariant>

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

} // namespace zentaro::test
