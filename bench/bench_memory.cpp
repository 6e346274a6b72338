// Peak memory of one program run holding the large base: "generate DIR" writes the base, "load DIR" loads it
// in a fresh process and prints its peak resident size.
#include <cstdio>

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>

#include "db/base_files.h"
#include "db/database.h"
#include "db/table_file.h"
#include "large_base.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s generate|generate-small|load DIR\n", argv[0]);
        return 2;
    }
    const QString base = QString::fromLocal8Bit(argv[2]) + QStringLiteral("/");
    zentaro::db::Database db;
    if (qstrcmp(argv[1], "generate") == 0 || qstrcmp(argv[1], "generate-small") == 0) {
        QDir().mkpath(base);
        zentaro::bench::BaseSize size;
        if (qstrcmp(argv[1], "generate-small") == 0) size = {5, 10, 4, 30, 60, 120, 6};
        zentaro::bench::fillLargeBase(db, size);
        return zentaro::db::SaveBase(db, base).ok &&
                       zentaro::db::TableFile::save(db.tbSets, base + QStringLiteral("sets.adb"), nullptr)
                   ? 0
                   : 1;
    }
    if (!zentaro::db::LoadBase(db, base).ok) return 1;
    // The working state of a session: detail filters on, lookups of the visible rows resolved.
    db.tbLink.setFilter(QStringLiteral("ProjectID=5"));
    db.tbLink.setFiltered(true);
    db.tbAncor.setFilter(QStringLiteral("LinkID=5"));
    db.tbAncor.setFiltered(true);
    db.tbCat2.setFilter(QStringLiteral("PID=5"));
    db.tbCat2.setFiltered(true);
    for (int pos = 0; pos < db.tbLink.recordCount(); ++pos)
        db.tbLink.displayTextAt(pos, db.tbLink.fieldIndex(QStringLiteral("_Site")));
    db.tbLink.displayTextAt(0, db.tbLink.fieldIndex(QStringLiteral("_cat")));
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("links %d anchors %d sites %d; peak resident memory %.1f MB\n", db.tbLink.recordCount(),
                db.tbAncor.recordCount(), db.tbSite.recordCount(), double(ru.ru_maxrss) / 1024.0);
    return 0;
}
