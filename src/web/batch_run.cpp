#include "web/batch_run.h"

#include <cmath>
#include <exception>

#include "db/database.h"
#include "util/user_interface.h"
#include "web/ext_links.h"
#include "web/index_check.h"
#include "web/link_presence.h"
#include "web/page_fetcher.h"
#include "web/site_metrics.h"

namespace zentaro::web {

int progressPercent(int i, int n) {
    if (n <= 0) return 0;
    return int(std::nearbyint(double(i) * 100.0 / double(n))); // the default rounding takes halves to even
}

namespace {

// The closing messages of the two runs that update values (external counts, site metrics).
void setUpdateMessages(RunMember& m) {
    m.finished = QStringLiteral("Обновление для всех выполнено.");
    m.stopped = QStringLiteral("Обновление было прервано.");
    m.failed = QStringLiteral("Ошибка обновления.");
}

} // namespace

void runBatch(db::Database& db, UserInterface& ui, RunPanel& panel, const RunMember& m) {
    db::Table& t = *m.table;
    for (db::Table* s : m.switchedOff)
        s->disableControls();
    db.isAuto = true;
    const bool wasFiltered = t.filtered();
    if (m.allRecords) t.setFiltered(false);
    const int n = t.recordCount();
    panel.showRun(true);
    db.isStop = false;
    bool failed = false;
    try {
        t.first();
        int i = 0;
        while (!t.eof()) {
            panel.setProgress(progressPercent(++i, n));
            if (m.skip && m.skip()) {
                if (!m.skipTurnsEventLoop) {
                    t.next();
                    continue;
                }
            } else {
                const std::function<void()> apply = m.fetch();
                apply();
            }
            panel.processEvents();
            if (db.isStop) break;
            t.next();
        }
    } catch (const std::exception&) {
        failed = true;
    }
    if (!failed) Msg(ui, db.isStop ? m.stopped : m.finished);
    panel.showRun(false);
    db.isAuto = false;
    if (m.allRecords) t.setFiltered(wasFiltered);
    for (db::Table* s : m.switchedOff)
        s->enableControls();
    db.isStop = false;
    t.last();
    if (failed) Msg(ui, m.failed);
}

void CheckAllPageLink(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel) {
    RunMember m;
    m.table = &db.tbLink;
    m.switchedOff = {&db.tbLink, &db.tbAncor};
    m.fetch = [&]() -> std::function<void()> {
        const QString url = db.tbLink.asString(QStringLiteral("PageURL"));
        const FetchedPage page = fetchForPresence(db, fetcher, url);
        return [&db, &ui, url, page] { applyPresence(db, ui, url, page, false); };
    };
    m.finished = QStringLiteral("Проверка выполнена.");
    m.stopped = QStringLiteral("Проверка была прервана.");
    m.failed = QStringLiteral("Ошибка!");
    runBatch(db, ui, panel, m);
}

void CheckExtLinks(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel, bool SkipOk) {
    db::Table& links = db.tbLink;
    RunMember m;
    m.table = &links;
    m.switchedOff = {&links};
    m.allRecords = true;
    if (SkipOk) m.skip = [&links] { return !links.isNull(QStringLiteral("UrlCount")); };
    m.fetch = [&]() -> std::function<void()> {
        const QString url = links.asString(QStringLiteral("PageURL"));
        const FetchedPage page = fetchPage(fetcher, url);
        return [&links, &fetcher, &ui, url, page] {
            const int count = countFromPage(fetcher, ui, url, page, false);
            if (count == -1) return;
            links.edit();
            links.setValue(QStringLiteral("UrlCount"), count);
            links.post();
        };
    };
    setUpdateMessages(m);
    runBatch(db, ui, panel, m);
}

void UpdateSitePRCY(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel, int mode) {
    db::Table& sites = db.tbSite;
    RunMember m;
    m.table = &sites;
    m.switchedOff = {&sites};
    m.allRecords = true;
    if (mode == 1)
        m.skip = [&sites] {
            return !sites.isNull(QStringLiteral("TIC")) && !sites.isNull(QStringLiteral("PR"));
        };
    m.skipTurnsEventLoop = false;
    m.fetch = [&]() -> std::function<void()> {
        const SiteMetrics metrics = fetchSiteMetrics(fetcher, sites.asString(QStringLiteral("Site")));
        return [&db, &ui, metrics] { applySiteMetrics(db, ui, metrics, 1); };
    };
    setUpdateMessages(m);
    runBatch(db, ui, panel, m);
}

void mnCheckLinkAllClick(db::Database& db, IndexContext& c) {
    c.fetcher.GlobalStop = false;
    db::Table& links = db.tbLink;
    const QString page = links.asString(QStringLiteral("PageURL"));
    const int count = PageExtLinks(c.fetcher, c.ui, page, false);
    if (count == -1) {
        Msg(c.ui, QStringLiteral("Ошибка!"));
        return;
    }
    links.edit();
    links.setValue(QStringLiteral("UrlCount"), count);
    links.post();
    CheckPageLink(db, c.fetcher, c.ui, page, false);
    if (!c.fetcher.GlobalStop) UpDateLinkPRCY(db, c.fetcher, c.ui, 0);
    if (!c.fetcher.GlobalStop) CheckPageIndex(db, c, page, false);
}

} // namespace zentaro::web
