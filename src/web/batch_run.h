#pragma once

#include <functional>
#include <vector>

#include <QString>

namespace zentaro {
class UserInterface;
}
namespace zentaro::db {
class Database;
class Table;
} // namespace zentaro::db

namespace zentaro::web {

class PageFetcher;
struct IndexContext;

// The work panel of a run: the progress bar and stop button, and the turn of the event loop between records
// (repaints, the stop button, other commands).
class RunPanel {
public:
    virtual ~RunPanel() = default;
    virtual void showRun(bool on) = 0;
    virtual void setProgress(int percent) = 0;
    virtual void processEvents() = 0;
};

// i × 100 / n rounded to the nearest integer, halves to the even one.
int progressPercent(int i, int n);

// One member of the run family: which table it walks and how.
struct RunMember {
    db::Table* table = nullptr;
    std::vector<db::Table*> switchedOff; // views whose grids show nothing during the run
    bool allRecords = false;             // the table's filter is off for the run and restored afterwards
    std::function<bool()> skip;          // the record in hand needs no work
    bool skipTurnsEventLoop = true;      // a skipped record still handles events and the stop request
    // The work on the record in hand in two steps: fetch returns the apply step, which the run calls on the
    // window's thread; runs may so fetch ahead while records are applied in list order.
    std::function<std::function<void()>()> fetch;
    QString finished, stopped, failed; // the closing messages
};

// Runs a member over its records: progress, stop after the record in hand, closing message, clean-up (the
// views back on, the filter restored, the last record current); an error escaping the work ends the run and
// is reported after the clean-up with the member's error message.
void runBatch(db::Database& db, UserInterface& ui, RunPanel& panel, const RunMember& member);

void CheckAllPageLink(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel);
void CheckExtLinks(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel, bool SkipOk);
void UpdateSitePRCY(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel, int mode);

// "Проверить все параметры" for the current link page: external links, presence, metrics and index, each
// only while the web stop flag stays clear.
void mnCheckLinkAllClick(db::Database& db, IndexContext& c);

} // namespace zentaro::web
