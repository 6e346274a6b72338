// Runs over many records: reading ahead in list order within the limits, and the runs built on it.
#include "web/batch_run.h"

#include <atomic>
#include <cmath>
#include <exception>
#include <list>
#include <map>
#include <memory>

#include <QCoreApplication>
#include <QHash>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include "db/database.h"
#include "util/text_helpers.h"
#include "util/user_interface.h"
#include "web/check_outcomes.h"
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

QString RunTally::text() const {
    const QString counts = countsText();
    return quickRetries > 0
               ? counts +
                     QStringLiteral(", запросов повторено после короткого ожидания: %1").arg(quickRetries)
               : counts;
}

QString RunTally::countsText() const {
    switch (kind) {
    case Presence:
        return QStringLiteral("Проверено страниц: %1, ссылки на месте: %2, пропали: %3, не загружено: %4, "
                              "без ссылок: %5, nofollow или noindex: %6")
                   .arg(checked)
                   .arg(found)
                   .arg(missing)
                   .arg(notFetched)
                   .arg(noLinks)
                   .arg(nofollow) +
               (noAnchors > 0 ? QStringLiteral(", без анкоров: %1").arg(noAnchors) : QString());
    case ExtLinks:
        return QStringLiteral("Проверено страниц: %1, подсчитано: %2, не загружено: %3, без ссылок: %4")
            .arg(checked)
            .arg(found)
            .arg(notFetched)
            .arg(noLinks);
    case Metrics:
        return QStringLiteral("Проверено сайтов: %1, обновлено: %2, без ответа: %3")
            .arg(checked)
            .arg(found)
            .arg(notFetched);
    }
    return {};
}

QString RunTally::pagesText() const {
    const bool metrics = kind == Metrics;
    const std::pair<QString, const QStringList*> lists[] = {
        {kind == Presence ? QStringLiteral("Ссылки пропали") : QString(), &missingPages},
        {metrics ? QStringLiteral("Без ответа") : QStringLiteral("Не загружены"), &notFetchedPages},
        {QStringLiteral("Без ссылок"), &noLinksPages},
        {QStringLiteral("Nofollow или noindex"), &nofollowPages},
        {QStringLiteral("Без анкоров"), &noAnchorsPages},
        {kind == Presence ? QStringLiteral("Ссылки на месте")
         : metrics        ? QStringLiteral("Обновлены")
                          : QStringLiteral("Подсчитаны"),
         &foundPages},
    };
    QString out;
    for (const auto& [title, pages] : lists) {
        if (title.isEmpty() || pages->isEmpty()) continue;
        out += title + QStringLiteral(":\n");
        for (const QString& p : *pages)
            out += QStringLiteral("  ") + p + u'\n';
    }
    return out;
}

void RunPanel::waitForEvents() {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

namespace {

// Fetches the records ahead of the one in hand while it is awaited, within the fetcher's limits: in all, per
// host (the run's host book: each hop counted at the host it goes to, pauses and down hosts), and the memory
// that the pages waiting to be applied and the requests in flight may take. A slow or retried page holds
// only its own record: the run reads on past it as far as that memory allows.
class Prefetcher {
public:
    Prefetcher(const RunMember& m, PageFetcher& settings, HostBook& book)
        : m_member(m), m_table(*m.table), m_settings(settings), m_book(book),
          m_share(std::min(settings.maxReplyBytes,
                           std::max<qint64>(64 * 1024, kBudget / (kTextFactor * settings.maxInFlight)))) {
        m_pool.setMaxThreadCount(settings.maxInFlight);
    }
    ~Prefetcher() {
        // Requests in flight are abandoned; their threads end before the run's objects go.
        m_cancel = true;
        m_pool.waitForDone();
        qDeleteAll(m_waker.children());
    }
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // The apply step of the record in hand, fetched ahead or now; the panel turns the event loop meanwhile.
    // Nothing when the stop came while waiting: the record keeps what it had.
    // key: what the record's inputs are now.
    std::function<void()> applyFor(int row, const QString& key, RunPanel& panel, const bool& stop) {
        m_head = row;
        std::optional<NetStep> read; // made when the record was read ahead, still for these inputs
        for (auto q = m_queue.begin(); q != m_queue.end(); ++q)
            if (q->row == row) {
                if (q->step.key == key) read = std::move(q->step);
                m_queue.erase(q);
                break;
            }
        auto it = m_slots.find(row);
        if (it != m_slots.end() && it->second->key != key) {
            // Fetched for inputs the record no longer has.
            drop(*it->second);
            m_slots.erase(it);
            it = m_slots.end();
        }
        if (it == m_slots.end())
            it = m_slots.emplace(row, start(read ? *read : m_member.prepare(row), row, 0)).first;
        const std::shared_ptr<Slot> slot = it->second;
        topUp();
        while (!slot->ready) {
            if (stop || abandoned()) return {};
            panel.waitForEvents();
            topUp();
        }
        m_slots.erase(row);
        m_used -= slot->bytes;
        slot->bytes = 0;
        return std::move(slot->apply);
    }

    // Starts records after the one in hand, in list order, as far as the limits allow: first those read
    // earlier whose host was busy, then new ones. A record whose host is busy waits for a later turn while
    // the run reads on.
    void topUp() {
        for (auto q = m_queue.begin(); q != m_queue.end() && m_inFlight < m_settings.maxInFlight;) {
            if (!mayStart(q->step, q->need)) {
                if (!fits(q->need)) return; // memory is full: nothing further fits either
                ++q;
                continue;
            }
            m_slots.emplace(q->row, start(q->step, q->row, q->need));
            q = m_queue.erase(q);
        }
        const int from = m_table.currentPos();
        if (from < 0 || abandoned()) return;
        m_next = std::max(m_next, from + 1);
        while (m_inFlight < m_settings.maxInFlight && m_queue.size() < kMaxRead && fits(0)) {
            const int row = m_table.rowAt(m_next);
            if (row < 0) break;
            ++m_next;
            if (m_slots.count(row) || (m_member.skip && m_member.skip(row))) continue;
            NetStep step = m_member.prepare(row);
            if (mayStart(step, 0))
                m_slots.emplace(row, start(step, row, 0));
            else
                m_queue.push_back({row, m_next - 1, std::move(step), 0});
        }
    }

private:
    bool abandoned() const { return m_settings.cancel && m_settings.cancel->load(); }

    struct Slot {
        QString key;
        QString host;
        std::function<void()> apply; // written by the worker before it reports, read after
        bool ready = false;          // set on the window's thread when the report arrives
        qint64 reserved = 0;         // memory held for the request in flight
        qint64 bytes = 0;            // the page text the apply step holds
        bool dropped = false;        // no longer waited for: its memory is not counted
        qint64 asked = 0;            // the reply it asked room for when it was given up
        bool confirming = false;     // fetched a second time before a missing link is believed
    };
    struct Read {
        int row;
        int pos;
        NetStep step;
        qint64 need; // given up once for memory: starts again only with room for the reply it announced
    };
    // Pages fetched ahead and requests in flight take at most this much memory, the text of a page counted
    // as two bytes a character.
    static constexpr qint64 kBudget = 256LL * 1024 * 1024;
    static constexpr qint64 kTextFactor = 2;
    // Records read ahead whose host was busy.
    static constexpr size_t kMaxRead = 4096;

    qint64 reservation(qint64 need) const { return kTextFactor * (need > 0 ? need : m_share); }
    bool fits(qint64 need) const { return m_used + reservation(need) <= kBudget; }
    bool mayStart(const NetStep& step, qint64 need) const {
        if (!fits(need)) return false;
        if (step.page) return step.page->isEmpty() || m_book.mayStart(step.host);
        return m_workerHosts.value(step.host) < m_book.limit();
    }
    void drop(Slot& slot) {
        slot.dropped = true;
        m_used -= slot.reserved + slot.bytes;
        slot.reserved = slot.bytes = 0;
    }

    std::shared_ptr<Slot> start(const NetStep& step, int row, qint64 need) {
        auto slot = std::make_shared<Slot>();
        slot->key = step.key;
        slot->host = step.host;
        ++m_inFlight;
        if (step.page) {
            slot->reserved = reservation(need);
            m_used += slot->reserved;
            startPage(slot, step, row);
            return slot;
        }
        ++m_workerHosts[step.host];
        const PageFetcher* settings = &m_settings;
        const std::atomic<bool>* cancel = &m_cancel;
        QObject* waker = &m_waker;
        m_pool.start([this, slot, run = step.run, settings, cancel, waker] {
            std::function<void()> apply;
            try {
                PageFetcher fetcher;
                fetcher.copySettings(*settings);
                fetcher.cancel = cancel;
                apply = run(fetcher);
            } catch (...) {
                apply = [e = std::current_exception()] { std::rethrow_exception(e); };
            }
            slot->apply = std::move(apply);
            QMetaObject::invokeMethod(
                waker,
                [this, slot] {
                    slot->ready = true;
                    --m_inFlight;
                    --m_workerHosts[slot->host];
                },
                Qt::QueuedConnection);
        });
        return slot;
    }

    // A page request on the window's thread, through the run's host book; the page is scanned when it comes.
    void startPage(const std::shared_ptr<Slot>& slot, const NetStep& step, int row) {
        if (step.page->isEmpty()) return finishPage(slot, step, row, FetchedPage{});
        auto* call = new PageCall(m_settings, nullptr, *step.page, true, &m_waker);
        call->setHostBook(&m_book);
        call->setReserved(slot->reserved / kTextFactor);
        // Beyond its share a reply asks for more; past the budget it is given up and fetched again later,
        // unless it is the record awaited.
        call->reserve = [this, slot, row](qint64 bytes) {
            const qint64 want = kTextFactor * bytes;
            if (slot->dropped) return true;
            if (row != m_head && m_used - slot->reserved + want > kBudget) {
                slot->asked = bytes;
                return false;
            }
            m_used += want - slot->reserved;
            slot->reserved = want;
            return true;
        };
        QObject::connect(call, &PageCall::finished, call, [this, call, slot, step, row] {
            FetchedPage page = call->result();
            call->dropBody();
            call->deleteLater();
            finishPage(slot, step, row, std::move(page));
        });
        call->start();
    }

    void finishPage(const std::shared_ptr<Slot>& slot, const NetStep& step, int row, FetchedPage page) {
        if (page.info.failure == FetchFailure::Deferred && !slot->dropped) {
            // Read again with room for its whole reply: at once when it is the record awaited, else later.
            m_used -= slot->reserved;
            slot->reserved = 0;
            if (row == m_head) {
                slot->reserved = reservation(slot->asked);
                slot->asked = 0;
                m_used += slot->reserved;
                return startPage(slot, step, row);
            }
            --m_inFlight;
            m_slots.erase(row);
            int pos = m_table.positionOfRow(row);
            auto at =
                std::find_if(m_queue.begin(), m_queue.end(), [pos](const Read& r) { return r.pos > pos; });
            m_queue.insert(at, {row, pos, step, std::max(slot->asked, m_share)});
            return;
        }
        // The page's text is kept where its verdict may change: a page not found at its last verdict, and
        // the second look at one that was.
        page.keepText = step.snapshot || (slot->confirming && !step.confirm.isEmpty());
        scanFetchedPage(page);
        if (!slot->confirming && !slot->dropped && presenceMissing(page, step.confirm)) {
            // A link that was there is taken as lost only when a second look, a little later, agrees.
            slot->confirming = true;
            QTimer::singleShot(m_settings.confirmPauseMs, &m_waker, [this, slot, step, row] {
                if (slot->dropped) return finishPage(slot, step, row, FetchedPage{});
                auto* call = new PageCall(m_settings, nullptr, *step.page, true, &m_waker);
                call->setHostBook(&m_book);
                call->setReserved(slot->reserved / kTextFactor);
                QObject::connect(call, &PageCall::finished, call, [this, call, slot, step, row] {
                    FetchedPage again = call->result();
                    call->dropBody();
                    again.info.attempts.prepend(QStringLiteral("первая загрузка: ссылки нет"));
                    call->deleteLater();
                    finishPage(slot, step, row, std::move(again));
                });
                call->start();
            });
            return;
        }
        if (!slot->dropped) {
            m_used -= slot->reserved;
            slot->reserved = 0;
            slot->bytes = (page.scan ? page.scan->bytes() : 0) + 2 * qint64(page.snapshotText.size());
            m_used += slot->bytes;
        }
        try {
            slot->apply = step.fromPage(std::move(page));
        } catch (...) {
            slot->apply = [e = std::current_exception()] { std::rethrow_exception(e); };
        }
        slot->ready = true;
        --m_inFlight;
    }

    const RunMember& m_member;
    db::Table& m_table;
    PageFetcher& m_settings;
    HostBook& m_book;
    const qint64 m_share;                         // the reply a request may hold before it asks for more
    std::map<int, std::shared_ptr<Slot>> m_slots; // started, by engine row
    std::list<Read> m_queue;                      // read, not started: the host or the memory was busy
    QHash<QString, int> m_workerHosts;            // requests of the worker threads per host
    int m_inFlight = 0;
    int m_next = 0; // the next list position to read
    int m_head = -1;
    qint64 m_used = 0;
    std::atomic<bool> m_cancel{false};
    QObject m_waker; // receives the workers' reports on the window's thread; parent of the page requests
    QThreadPool m_pool;
};

} // namespace

void runBatch(db::Database& db, UserInterface& ui, RunPanel& panel, const RunMember& m) {
    db::Table& t = *m.table;
    for (db::Table* s : m.switchedOff)
        s->blankControls();
    db.isAuto = true;
    db.runGoing = true;
    const bool wasFiltered = t.filtered();
    if (m.allRecords) t.setFiltered(false);
    const int n = t.recordCount();
    // The records to visit, taken once by engine row and ID: what the user does between records (or a
    // record deleted meanwhile) cannot move the run onto another record or make it skip one.
    const int idField = t.fieldIndex(QStringLiteral("ID"));
    struct Record {
        int row;
        QVariant id;
        int pos; // where it stood in the list when the run began
    };
    std::vector<Record> records;
    records.reserve(size_t(n));
    for (int pos = 0; pos < n; ++pos)
        records.push_back({t.rowAt(pos), t.rowValue(t.rowAt(pos), idField), pos});
    // Makes the record current again; false when it is gone, has another ID or the view no longer shows it.
    // Looked for where it stood first: the list seldom changes during a run, and a search is linear.
    auto reach = [&t, idField](const Record& r) {
        const int row = r.row;
        if (row < 0 || row >= t.rowCapacity() || !t.rowAlive(row) || t.rowValue(row, idField) != r.id)
            return false;
        const int pos = t.rowAt(r.pos) == row ? r.pos : t.positionOfRow(row);
        if (pos < 0) return false;
        if (t.currentPos() != pos) t.moveTo(pos);
        return t.currentRow() == row;
    };
    const auto keyOf = [&m](int row) { return m.key ? m.key(row) : m.prepare(row).key; };
    // Closing the window abandons the run: requests in flight end, their results are not applied.
    auto abandoned = [&m] { return m.fetcher && m.fetcher->cancel && m.fetcher->cancel->load(); };
    panel.showRun(true);
    db.isStop = false;
    bool failed = false;
    // The hosts' limits, pauses and down marks hold for this run; a stop abandons the requests in flight.
    std::unique_ptr<HostBook> book;
    if (m.fetcher) {
        book = std::make_unique<HostBook>(m.fetcher->perHost);
        m.fetcher->hostBook = book.get();
        m.fetcher->stop = &db.isStop;
    }
    {
        std::unique_ptr<Prefetcher> ahead;
        if (m.fetcher && m.fetcher->maxInFlight > 1)
            ahead = std::make_unique<Prefetcher>(m, *m.fetcher, *book);
        try {
            int i = 0;
            for (const auto& record : records) {
                panel.setProgress(progressPercent(++i, n));
                const int row = record.row;
                if (!reach(record)) {
                    // Gone or hidden since the run began: nothing to check.
                } else if (m.skip && m.skip(row)) {
                    if (!m.skipTurnsEventLoop) continue;
                } else {
                    // Fetched ahead, the record was prepared when it was read; its key tells whether its
                    // inputs changed since.
                    QString key;
                    std::function<void()> apply;
                    if (ahead) {
                        key = keyOf(row);
                        apply = ahead->applyFor(row, key, panel, db.isStop);
                    } else {
                        const NetStep step = m.prepare(row);
                        key = step.key;
                        apply = step.run(*m.fetcher);
                    }
                    // A stop while the record was fetched leaves it as it was.
                    if (db.isStop || abandoned()) break;
                    // The wait handled events: the result goes only to the record it was fetched for, with
                    // the inputs it was fetched for.
                    if (apply && reach(record) && keyOf(row) == key) apply();
                }
                panel.processEvents();
                if (db.isStop || abandoned()) break;
            }
        } catch (const std::exception&) {
            failed = true;
        }
    }
    const bool quiet = abandoned();
    if (m.fetcher) {
        m.fetcher->hostBook = nullptr;
        m.fetcher->stop = nullptr;
    }
    if (m.tally && book) m.tally->quickRetries += book->quickRetries();
    if (m.tally) panel.showSummary(m.tally->text());
    if (!failed && !quiet) Msg(ui, db.isStop ? m.stopped : m.finished);
    panel.showRun(false);
    db.isAuto = false;
    db.runGoing = false;
    // Results were stored by row with the view switched off: the view is rebuilt once, here.
    t.refreshView();
    if (m.allRecords) t.setFiltered(wasFiltered);
    for (db::Table* s : m.switchedOff)
        s->unblankControls();
    db.isStop = false;
    t.last();
    if (failed && !quiet) Msg(ui, m.failed);
}

namespace {

QString rowText(const db::Table& t, int row, const char* field) {
    return t.rowValue(row, t.fieldIndex(QString::fromLatin1(field))).toString();
}

// The host (and port) a page address asks first, for the per-host limit. An address with its scheme is read
// as it stands (the user-input reading also looks for a local file of that name).
QString hostOf(const QString& url) {
    const QString address = fetchAddress(url);
    return HostBook::keyOf(address.contains(QLatin1String("://")) ? QUrl(address, QUrl::TolerantMode)
                                                                  : QUrl::fromUserInput(address));
}

// One presence verdict in the run's counts (and lists).
void countPresence(db::Database& db, RunTally& tally, PresenceOutcome outcome, const QString& url) {
    ++tally.checked;
    QStringList* list = nullptr;
    switch (outcome) {
    case PresenceOutcome::Found: {
        ++tally.found;
        list = &tally.foundPages;
        const auto last =
            db.checks.last(db::CheckSubject::LinkPage, db.tbLink.asInteger(QStringLiteral("ID")));
        if (last && (last->outcome.reason == db::CheckReason::FoundNofollow ||
                     last->outcome.reason == db::CheckReason::FoundNoindex)) {
            ++tally.nofollow;
            if (tally.keepPages) tally.nofollowPages << url;
        }
        break;
    }
    case PresenceOutcome::Missing:
        ++tally.missing;
        list = &tally.missingPages;
        break;
    case PresenceOutcome::NoAnchors:
        // Counted apart: a page without anchor records has lost nothing.
        ++tally.noAnchors;
        list = &tally.noAnchorsPages;
        break;
    case PresenceOutcome::NotFetched:
        ++tally.notFetched;
        list = &tally.notFetchedPages;
        break;
    case PresenceOutcome::NoLinks:
        ++tally.noLinks;
        list = &tally.noLinksPages;
        break;
    case PresenceOutcome::NoAddress:
        break;
    }
    if (list && tally.keepPages) *list << url;
}

} // namespace

void CheckAllPageLink(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel,
                      RunTally* tally) {
    RunMember m;
    m.table = &db.tbLink;
    m.switchedOff = {&db.tbLink, &db.tbAncor};
    m.fetcher = &fetcher;
    const auto presenceKey = [&db](int row, QString* url = nullptr, int* id = nullptr,
                                   bool* needed = nullptr) {
        const QString u = rowText(db.tbLink, row, "PageURL");
        const int i = db.tbLink.rowValue(row, db.tbLink.fieldIndex(QStringLiteral("ID"))).toInt();
        const bool n = presenceNeedsRequest(db, i, u);
        if (url) *url = u;
        if (id) *id = i;
        if (needed) *needed = n;
        return u + (n ? u'+' : u'-');
    };
    m.key = [presenceKey](int row) { return presenceKey(row); };
    m.prepare = [&db, &ui, tally, presenceKey](int row) {
        QString url;
        int id = 0;
        bool needed = false;
        NetStep step;
        step.key = presenceKey(row, &url, &id, &needed);
        step.host = hostOf(url);
        if (needed && foundAtLastVerdict(db, row)) step.confirm = presenceNeedles(db, id);
        step.snapshot = needed && step.confirm.isEmpty() && db.checks.isOpen();
        step.fromPage = [&db, &ui, url, tally](FetchedPage page) -> std::function<void()> {
            return [&db, &ui, url, page = std::move(page), tally] {
                const PresenceOutcome outcome = applyPresence(db, ui, url, page, false);
                if (tally && outcome != PresenceOutcome::NoAddress) countPresence(db, *tally, outcome, url);
            };
        };
        step.page = needed ? fetchAddress(url) : QString();
        step.run = [url, needed, confirm = step.confirm, then = step.fromPage](PageFetcher& f) {
            return then(fetchPresencePage(f, url, needed, confirm));
        };
        return step;
    };
    if (tally) tally->kind = RunTally::Presence;
    m.tally = tally;
    m.finished = QStringLiteral("Проверка выполнена.");
    m.stopped = QStringLiteral("Проверка была прервана.");
    m.failed = QStringLiteral("Ошибка!");
    runBatch(db, ui, panel, m);
}

void CheckExtLinks(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel, bool SkipOk,
                   RunTally* tally, int onlyProject) {
    db::Table& links = db.tbLink;
    RunMember m;
    m.table = &links;
    m.switchedOff = {&links};
    m.allRecords = true;
    m.fetcher = &fetcher;
    if (SkipOk || onlyProject)
        m.skip = [&links, SkipOk, onlyProject](int row) {
            return (SkipOk && links.rowValue(row, links.fieldIndex(QStringLiteral("UrlCount"))).isValid()) ||
                   (onlyProject &&
                    links.rowValue(row, links.fieldIndex(QStringLiteral("ProjectID"))).toInt() !=
                        onlyProject);
        };
    m.key = [&links](int row) { return rowText(links, row, "PageURL"); };
    m.prepare = [&db, &links, &fetcher, &ui, tally](int row) {
        const QString url = rowText(links, row, "PageURL");
        NetStep step;
        step.key = url;
        step.host = hostOf(url);
        // The count and the web stop flag belong to the run's own fetcher.
        step.fromPage = [&db, &links, &fetcher, &ui, url, tally](FetchedPage page) -> std::function<void()> {
            return [&db, &links, &fetcher, &ui, url, page = std::move(page), tally] {
                const int count = countFromPage(fetcher, ui, url, page, false);
                keepExtCount(db, page, count);
                if (tally && page.requested) {
                    ++tally->checked;
                    tally->found += count != -1;
                    tally->notFetched += count == -1 && !page.body;
                    tally->noLinks += count == -1 && page.body;
                    if (tally->keepPages)
                        (count != -1 ? tally->foundPages
                         : page.body ? tally->noLinksPages
                                     : tally->notFetchedPages)
                            << url;
                }
                if (count == -1) return;
                links.edit();
                links.setValue(QStringLiteral("UrlCount"), count);
                links.post();
            };
        };
        step.page = url.isEmpty() ? QString() : fetchAddress(url);
        step.run = [url, then = step.fromPage](PageFetcher& f) { return then(fetchPage(f, url)); };
        return step;
    };
    if (tally) tally->kind = RunTally::ExtLinks;
    m.tally = tally;
    setUpdateMessages(m);
    runBatch(db, ui, panel, m);
}

void UpdateSitePRCY(db::Database& db, PageFetcher& fetcher, UserInterface& ui, RunPanel& panel, int mode,
                    RunTally* tally) {
    db::Table& sites = db.tbSite;
    RunMember m;
    m.table = &sites;
    m.switchedOff = {&sites};
    m.allRecords = true;
    m.fetcher = &fetcher;
    if (mode == 1)
        m.skip = [&sites](int row) {
            return sites.rowValue(row, sites.fieldIndex(QStringLiteral("TIC"))).isValid() &&
                   sites.rowValue(row, sites.fieldIndex(QStringLiteral("PR"))).isValid();
        };
    m.skipTurnsEventLoop = false;
    m.prepare = [&db, &ui, &fetcher, tally](int row) {
        const QString site = rowText(db.tbSite, row, "Site");
        NetStep step;
        step.key = site;
        step.host = fetcher.hosts.googleToolbar;
        step.run = [&db, &ui, site, tally](PageFetcher& f) -> std::function<void()> {
            const SiteMetrics metrics = fetchSiteMetrics(f, site);
            return [&db, &ui, metrics, tally, site] {
                applySiteMetrics(db, ui, metrics, 1);
                if (!tally || !metrics.asked) return;
                ++tally->checked;
                tally->found += metrics.pr.ok;
                tally->notFetched += !metrics.pr.ok;
                if (tally->keepPages) (metrics.pr.ok ? tally->foundPages : tally->notFetchedPages) << site;
            };
        };
        return step;
    };
    if (tally) tally->kind = RunTally::Metrics;
    m.tally = tally;
    setUpdateMessages(m);
    runBatch(db, ui, panel, m);
}

void mnCheckLinkAllClick(db::Database& db, IndexContext& c) {
    c.fetcher.GlobalStop = false;
    db::Table& links = db.tbLink;
    const QString page = links.asString(QStringLiteral("PageURL"));
    const FetchedPage fetched = fetchPage(c.fetcher, page);
    const int count = countFromPage(c.fetcher, c.ui, page, fetched, false);
    keepExtCount(db, fetched, count);
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
