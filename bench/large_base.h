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

// Adds a project with 1,000 link pages and 2,000 anchors as program code would (rules held still) and makes
// it current.
void addBigProject(db::Database& db);

} // namespace zentaro::bench
