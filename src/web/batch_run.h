// Runs over many records: the run panel and tally, fetching ahead within the run's limits, the link runs.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "db/forward.h"

namespace zentaro::web {

class PageFetcher;
struct FetchedPage;
struct IndexContext;

// The work panel of a run: the progress bar and stop button, and the turn of the event loop between records
// (repaints, the stop button, other commands).
class RunPanel {
public:
    virtual ~RunPanel() = default;
    virtual void showRun(bool on) = 0;
    virtual void setProgress(int percent) = 0;
    virtual void processEvents() = 0;
    // Waits for the next event and handles what came (a run fetching ahead waits so for its record).
    virtual void waitForEvents();
    // The counts of a run, shown beside its closing message.
    virtual void showSummary(const QString&) {}
};

// i × 100 / n rounded to the nearest integer, halves to the even one.
int progressPercent(int i, int n);

// What a run came to, record by record applied: links found / missing (or pages counted, sites updated),
// pages not fetched (or metrics not answered), pages without link elements.
struct RunTally {
    enum Kind { Presence, ExtLinks, Metrics } kind = Presence;
    int checked = 0, found = 0, missing = 0, notFetched = 0, noLinks = 0;
    int nofollow = 0;  // found, but not followed or on a page closed to indexing
    int noAnchors = 0; // link pages without anchor records (checked for the project's site, if it has one)
    // Requests sent again at once after a host's short first-try read timeout cut them (not pages).
    int quickRetries = 0;
    // With keepPages the addresses (sites) of each outcome are listed too.
    bool keepPages = false;
    QStringList foundPages, missingPages, notFetchedPages, noLinksPages, nofollowPages, noAnchorsPages;
    // One line of counts in Russian (the requests sent again named only when there were any).
    QString text() const;
    QString countsText() const;
    // The lists, one outcome after another (empty lists left out).
    QString pagesText() const;
};

// The network half of one record's work, read from the record on the window's thread: the key of its
// inputs (a result fetched for other inputs is not used), the host it asks (for the per-host limit), and the
// work itself, which runs on any thread with the fetcher it is given and returns the apply step. The apply
// step runs on the window's thread with the record current.
struct NetStep {
    QString key;
    QString host;
    std::function<std::function<void()>(PageFetcher&)> run;
    // Members that fetch one page also give its address (empty: no request) and the apply step made from
    // what came; a run fetching ahead then keeps all their requests on the window's thread, no worker. The
    // page is given over (moved into the apply step, not copied with its scan).
    std::optional<QString> page;
    std::function<std::function<void()>(FetchedPage)> fromPage;
    // The anchors looked for, when a page that lacks one is fetched once more before it counts (its link was
    // found at its last verdict); empty: no second look.
    QStringList confirm;
    // The page's text is kept for the apply step (a presence verdict that may change from none to found).
    bool snapshot = false;
};

// One member of the run family: which table it walks and how.
struct RunMember {
    db::Table* table = nullptr;
    std::vector<db::Table*> switchedOff; // views whose grids show nothing during the run
    bool allRecords = false;             // the table's filter is off for the run and restored afterwards
    std::function<bool(int row)> skip;   // the record (engine row) needs no work
    bool skipTurnsEventLoop = true;      // a skipped record still handles events and the stop request
    std::function<NetStep(int row)> prepare;
    // The key of the record's inputs alone, as prepare gives it but cheaper (none: prepare's): asked again
    // before a result fetched ahead is applied, so that each record is prepared once.
    std::function<QString(int row)> key;
    // Makes the requests of a one-at-a-time run; its limits decide how many run at once otherwise.
    PageFetcher* fetcher = nullptr;
    RunTally* tally = nullptr;         // counted by the work; shown by the panel at the end
    QString finished, stopped, failed; // the closing messages
};

// Runs a member over its records: progress, stop after the record in hand, closing message, clean-up (the
// views back on, the filter restored, the last record current); an error escaping the work ends the run and
// is reported after the clean-up with the member's error message. With the fetcher's limits above one, the
// records ahead are fetched while the one in hand is awaited: page requests on the window's thread through
// the run's host book, their pages scanned there as they come; work without a page of its own (the site
// metrics) on worker threads, each with a fetcher of its own, cookies included. The results are applied in
// list order: the tables, messages and progress come out as in a one-at-a-time run. A stop abandons the
// requests in flight.
void runBatch(db::Database& db, UserInterface& ui, RunPanel& panel, const RunMember& member);

void CheckAllPageLink(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel,
                      RunTally* tally = nullptr);
// onlyProject: other projects' pages are passed over (0: every page).
void CheckExtLinks(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel, bool SkipOk,
                   RunTally* tally = nullptr, int onlyProject = 0);
void UpdateSitePRCY(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel, int mode,
                    RunTally* tally = nullptr);

// "Проверить все параметры" for the current link page: external links, presence, metrics and index, each
// only while the web stop flag stays clear.
void mnCheckLinkAllClick(db::Database& db, IndexContext& c);

} // namespace zentaro::web
