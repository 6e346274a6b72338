#pragma once

#include <QString>

namespace zentaro::db {
class Database;
}

namespace zentaro::bench {

struct BaseSize {
    int projects = 1000;
    int linkCats = 5000;
    int siteCats = 50;
    int sites = 50000;
    int links = 200000;
    int anchors = 400000;
    int accounts = 2000;
};

// Fills the tables with generated records of realistic shape (Cyrillic names, addresses, dates, flags).
void fillLargeBase(db::Database& db, const BaseSize& size = {});

} // namespace zentaro::bench
