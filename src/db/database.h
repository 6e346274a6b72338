// The eight tables and the state flags that tie the operations together.
#pragma once

#include <array>

#include <QObject>

#include "db/check_history.h"
#include "db/store.h"
#include "db/table.h"

namespace zentaro {
class UserInterface;
}

namespace zentaro::db {

// The eight tables of the program and the state flags that tie the operations together.
class Database : public QObject {
    Q_OBJECT
public:
    explicit Database(QObject* parent = nullptr);

    Table tbProject{QStringLiteral("tbProject")};
    Table tbCat{QStringLiteral("tbCat")};
    Table tbCat2{QStringLiteral("tbCat2")};
    Table tbSite{QStringLiteral("tbSite")};
    Table tbLink{QStringLiteral("tbLink")};
    Table tbAncor{QStringLiteral("tbAncor")};
    Table tbAccount{QStringLiteral("tbAccount")};
    Table tbSets{QStringLiteral("tbSets")};

    // Writes every change of the tables into their files as it happens.
    Store store;
    // The outcomes of the web checks, in their own file; open once the tables are loaded.
    CheckHistory checks{store};

    // An automatic operation walks the tables: after-scroll rules and detail filters hold still.
    bool isAuto = false;
    // Program code adds a record itself: the insert rules hold still.
    bool InsFlag = false;
    // The user asked a batch run to stop.
    bool isStop = false;
    // A table file could not be loaded: no data table is written at closing.
    bool BaseLoadError = false;
    // Why the load failed: the error text, naming the table file.
    QString baseLoadFailure;
    // The user asked for a reserve copy at closing.
    bool StartRCopyNow = false;
    // A batch run or a link import walks a table between turns of the event loop: commands that change
    // tables, and another run, wait for it to end.
    bool runGoing = false;
    // True (and the window is told, to say so) when a run is going and the command must not start.
    bool refuseDuringRun();

    // The seven data tables in load and save order.
    std::array<Table*, 7> dataTables() {
        return {&tbProject, &tbCat, &tbCat2, &tbSite, &tbLink, &tbAncor, &tbAccount};
    }

signals:
    void refusedDuringRun();
};

// File name of each table in the base folder.
QString tableFileName(const Table& t);

} // namespace zentaro::db
