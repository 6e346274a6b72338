// The evidence of the presence checks: the window's look at one link's history, a claim for many lost links,
// and how much a run adds to the history file when nothing changed.
#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>

#include "db/check_history.h"
#include "db/database.h"
#include "reports/claim.h"

using namespace zentaro;

namespace {

db::Evidence evidenceOf(int id, bool found, int version) {
    db::Evidence e;
    e.requested = e.finalUrl = QStringLiteral("https://trust%1.example/page/%2").arg(id % 100).arg(id);
    e.status = 200;
    e.charset = QStringLiteral("utf-8");
    e.charsetSource = db::CharsetSource::Header;
    e.size = 10240;
    e.sha256 = QByteArray(64, 'a' + char(version % 26));
    db::LinkSeen l;
    l.needle = QStringLiteral("mine.example");
    l.found = found;
    if (found) {
        l.tag = QStringLiteral("<a href=\"https://mine.example/\" class=\"link\">");
        l.href = QStringLiteral("https://mine.example/");
        l.text = QStringLiteral("купить окна %1").arg(version);
    } else {
        l.nearest = QStringLiteral("ссылка на тот же сайт с другим адресом: https://mine.example/other");
    }
    e.links.push_back(l);
    return e;
}

struct Base {
    Base() {
        QString err;
        ok = db.store.open(QString(), &err) &&
             db.checks.open(dir.path() + QStringLiteral("/checks.adb"), &err);
        db.store.setDeferred(false);
    }
    // One presence check of a page: its outcome and evidence, as a run keeps them.
    void check(int id, const QDateTime& at, bool found, int version, const QStringList& events = {}) {
        db.checks.record(db::CheckSubject::LinkPage, id,
                         {at, db::CheckKind::Presence,
                          found ? db::CheckReason::Found : db::CheckReason::Missing,
                          QStringLiteral("HTTP 200")});
        db.checks.recordEvidence(db::CheckSubject::LinkPage, id, at, found, evidenceOf(id, found, version),
                                 events);
    }
    QTemporaryDir dir;
    db::Database db;
    bool ok = false;
};

// One link page checked 1,000 times, its links changing every time: what the window reads to show it.
void BM_HistoryOfALinkWith1000Outcomes(benchmark::State& state) {
    Base b;
    const QDateTime t0(QDate(2024, 1, 1), QTime(3, 0));
    b.db.store.setDeferred(true);
    for (int i = 0; i < 1000; ++i)
        b.check(1, t0.addDays(i), i % 7 != 6, i, {QStringLiteral("текст ссылки изменён")});
    b.db.store.flush();
    for (auto _ : state) {
        auto history = b.db.checks.history(db::CheckSubject::LinkPage, 1);
        auto events = b.db.checks.evidence().events(b.db.checks.connection(), 0, 1);
        auto rows = b.db.checks.evidence().evidence(b.db.checks.connection(), 0, 1);
        benchmark::DoNotOptimize(history.size() + events.size() + rows.size());
    }
}
BENCHMARK(BM_HistoryOfALinkWith1000Outcomes)->Unit(benchmark::kMillisecond);

// A claim for 50 lost links, each with a find, a miss and a change: gathered from the tables and the history
// and written as text and as HTML.
void BM_ClaimFor50Links(benchmark::State& state) {
    Base b;
    const QDateTime t0(QDate(2026, 1, 1), QTime(3, 0));
    for (int id = 1; id <= 50; ++id) {
        b.db.tbLink.insert();
        b.db.tbLink.setValue(QStringLiteral("ID"), id);
        b.db.tbLink.setValue(QStringLiteral("PageURL"), evidenceOf(id, true, 0).requested);
        b.db.tbLink.setValue(QStringLiteral("Price"), 1000.0 + id);
        b.db.tbLink.post();
        b.db.tbAncor.insert();
        b.db.tbAncor.setValue(QStringLiteral("ID"), id);
        b.db.tbAncor.setValue(QStringLiteral("LinkID"), id);
        b.db.tbAncor.setValue(QStringLiteral("URL"), QStringLiteral("mine.example"));
        b.db.tbAncor.post();
        b.check(id, t0, true, 0);
        b.check(id, t0.addDays(30), false, 1, {QStringLiteral("ссылка спрятана в комментарий")});
    }
    b.db.store.flush();
    for (auto _ : state) {
        std::vector<reports::ClaimLink> links;
        for (int row = 0; row < 50; ++row)
            links.push_back(reports::claimLinkAt(b.db, row));
        benchmark::DoNotOptimize(reports::claimText(links, QDate::currentDate()).size() +
                                 reports::claimHtml(links, QDate::currentDate()).size());
    }
}
BENCHMARK(BM_ClaimFor50Links)->Unit(benchmark::kMillisecond);

// Two runs over 10,000 pages, the second finding every page as the first did: the bytes the second adds.
void BM_HistoryGrowthOfAnUnchangedRun(benchmark::State& state) {
    for (auto _ : state) {
        Base b;
        b.db.store.setDeferred(true);
        const QDateTime t0(QDate(2026, 1, 1), QTime(3, 0));
        const QString file = b.dir.path() + QStringLiteral("/checks.adb");
        qint64 sizes[2] = {0, 0};
        for (int run = 0; run < 2; ++run) {
            for (int id = 1; id <= 10000; ++id) {
                b.check(id, t0.addDays(run).addSecs(id), true, 0);
                if (id % 100 == 0) b.db.store.flush();
            }
            b.db.store.flush();
            b.db.checks.close(); // the log checkpointed into the file
            sizes[run] = QFileInfo(file).size();
            QString err;
            b.db.checks.open(file, &err);
        }
        state.counters["first_run_MB"] = double(sizes[0]) / 1e6;
        state.counters["second_run_MB"] = double(sizes[1] - sizes[0]) / 1e6;
    }
}
BENCHMARK(BM_HistoryGrowthOfAnUnchangedRun)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
