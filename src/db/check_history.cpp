// The history of web checks: what was checked, what it came to, kept in its own store file.
#include "db/check_history.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>

#include "db/sqlite_util.h"

namespace zentaro::db {

namespace {

constexpr int kMaxDetail = 2000;

CheckReason reasonFrom(int v) {
    static const int known[] = {0, 1, 2, 3, 4, 5, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 23, 24};
    for (const int k : known)
        if (v == k) return CheckReason(v);
    return CheckReason::NotFetched;
}

CheckKind kindFrom(int v) {
    return v >= 0 && v <= 3 ? CheckKind(v) : CheckKind::Presence;
}

QString text(sqlite3_stmt* s, int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
    return p ? QString::fromUtf8(p, sqlite3_column_bytes(s, col)).left(kMaxDetail) : QString();
}

// An outcome row read from the file (which may be damaged: unknown codes become "not fetched").
CheckOutcome outcomeAt(sqlite3_stmt* s, int col) {
    CheckOutcome o;
    o.at = QDateTime::fromString(text(s, col), Qt::ISODate);
    o.kind = kindFrom(sqlite3_column_int(s, col + 1));
    o.reason = reasonFrom(sqlite3_column_int(s, col + 2));
    o.detail = text(s, col + 3);
    return o;
}

void bindText(sqlite3_stmt* s, int i, const QString& v) {
    const QByteArray utf8 = v.toUtf8();
    sqlite3_bind_text(s, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

} // namespace

bool isFound(CheckReason r) {
    return r == CheckReason::Found || r == CheckReason::FoundNofollow || r == CheckReason::FoundNoindex;
}

bool isNotFetched(CheckReason r) {
    return int(r) >= 10 && int(r) <= 18;
}

QString reasonText(CheckReason r) {
    switch (r) {
    case CheckReason::Found:
        return QStringLiteral("Ссылки на месте");
    case CheckReason::FoundNofollow:
        return QStringLiteral("На месте, nofollow");
    case CheckReason::FoundNoindex:
        return QStringLiteral("На месте, noindex");
    case CheckReason::Missing:
        return QStringLiteral("Ссылка пропала");
    case CheckReason::NoAnchors:
        return QStringLiteral("Ссылки не указаны");
    case CheckReason::NoLinks:
        return QStringLiteral("На странице нет ссылок");
    case CheckReason::Timeout:
        return QStringLiteral("Нет ответа");
    case CheckReason::Refused:
        return QStringLiteral("Сервер недоступен");
    case CheckReason::Tls:
        return QStringLiteral("Ошибка TLS");
    case CheckReason::HttpError:
        return QStringLiteral("Ошибка HTTP");
    case CheckReason::BadRedirect:
        return QStringLiteral("Неверное перенаправление");
    case CheckReason::TooLarge:
        return QStringLiteral("Слишком большой ответ");
    case CheckReason::NotFetched:
        return QStringLiteral("Не загружена");
    case CheckReason::Blocked:
        return QStringLiteral("Проверка заблокирована защитой сайта");
    case CheckReason::Throttled:
        return QStringLiteral("Сервер просит подождать");
    case CheckReason::Counted:
        return QStringLiteral("Внешние ссылки подсчитаны");
    case CheckReason::Updated:
        return QStringLiteral("тИЦ и PR обновлены");
    case CheckReason::NoAnswer:
        return QStringLiteral("тИЦ и PR без ответа");
    case CheckReason::Indexed:
        return QStringLiteral("В индексе");
    case CheckReason::NotIndexed:
        return QStringLiteral("Нет в индексе");
    }
    return {};
}

unsigned reasonRgb(CheckReason r) {
    if (r == CheckReason::Found || r == CheckReason::Counted || r == CheckReason::Updated ||
        r == CheckReason::Indexed)
        return 0x007a00; // green
    // A page without anchor records is never a loss: no verdict, shown as such.
    if (r == CheckReason::Missing || r == CheckReason::NotIndexed) return 0xc00000; // red
    return 0xb06000; // amber: no verdict or a doubtful one
}

QString kindText(CheckKind k) {
    switch (k) {
    case CheckKind::Presence:
        return QStringLiteral("Наличие ссылок");
    case CheckKind::ExtLinks:
        return QStringLiteral("Внешние ссылки");
    case CheckKind::Metrics:
        return QStringLiteral("тИЦ и PR");
    case CheckKind::Index:
        return QStringLiteral("Индексация");
    }
    return {};
}

CheckHistory::CheckHistory(Store& store) : m_store(store) {}

CheckHistory::~CheckHistory() {
    m_store.removeExtra(this);
}

bool CheckHistory::attach(QString* error) {
    sqlite3* db = m_store.connection();
    if (!m_store.attachFile(QStringLiteral("checks"), m_path, error)) return false;
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        detach();
        return false;
    };
    // A file of this program holds these tables (the losses only from a later version on) and nothing else:
    // anything more is another file put here, which is never written into.
    static const QStringList kOutcomes = {"id", "subject", "rid", "at", "kind", "reason", "detail"};
    static const QStringList kLast = {"subject", "rid", "kind", "at", "reason", "detail", "lost_since"};
    sql::StmtPtr tables = sql::prepare(db, QStringLiteral("SELECT name FROM checks.sqlite_master WHERE "
                                                          "type = 'table' ORDER BY name"));
    if (!tables) return fail(sql::errorText(db));
    QStringList names;
    int rc;
    while ((rc = sqlite3_step(tables.get())) == SQLITE_ROW && names.size() < 16)
        names << text(tables.get(), 0);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail(sql::errorText(db));
    tables.reset();
    const QString foreign = QStringLiteral("файл не является историей проверок");
    for (const QString& t : EvidenceStore::tableNames())
        names.removeOne(t);
    if (!names.isEmpty()) {
        if (names != QStringList{"last", "outcomes"} && names != QStringList{"last", "losses", "outcomes"})
            return fail(foreign);
        for (const auto& [table, columns] : {std::pair{"outcomes", &kOutcomes}, std::pair{"last", &kLast}}) {
            sql::StmtPtr info =
                sql::prepare(db, QStringLiteral("SELECT name FROM pragma_table_info('%1', 'checks')")
                                     .arg(QLatin1String(table)));
            if (!info) return fail(sql::errorText(db));
            QStringList have;
            while ((rc = sqlite3_step(info.get())) == SQLITE_ROW && have.size() < 16)
                have << text(info.get(), 0);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail(sql::errorText(db));
            if (have != *columns) return fail(foreign);
        }
    }
    // The history is written ahead in a log and synced at its checkpoints: a power cut may lose the last
    // outcomes but never damages the file, and the tables' transactions stay one-file commits (a commit
    // over two rollback journals costs several more syncs per write).
    QString err;
    if (!sql::exec(db, "PRAGMA checks.journal_mode=WAL; PRAGMA checks.synchronous=NORMAL;", &err) ||
        !sql::exec(db,
                   "CREATE TABLE IF NOT EXISTS checks.outcomes(id INTEGER PRIMARY KEY, subject INTEGER NOT "
                   "NULL, rid INTEGER NOT NULL, at TEXT NOT NULL, kind INTEGER NOT NULL, reason INTEGER NOT "
                   "NULL, detail TEXT NOT NULL);"
                   "CREATE INDEX IF NOT EXISTS checks.outcomes_of ON outcomes(subject, rid, id);"
                   "CREATE TABLE IF NOT EXISTS checks.last(subject INTEGER NOT NULL, rid INTEGER NOT NULL, "
                   "kind INTEGER NOT NULL, at TEXT NOT NULL, reason INTEGER NOT NULL, detail TEXT NOT NULL, "
                   "lost_since TEXT, PRIMARY KEY(subject, rid, kind)) WITHOUT ROWID;",
                   &err) ||
        !fillLosses(&err) || !EvidenceStore::createTables(db, &err))
        return fail(err);
    return true;
}

void CheckHistory::detach() {
    m_lastOf = {};
    m_verdictOf = {};
    m_evidence.releaseStatements();
    sql::exec(m_store.connection(), "DETACH DATABASE checks", nullptr);
}

bool CheckHistory::setAside() {
    const QString stamp = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    QString target = m_path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target) && n < 1000; ++n)
        target = m_path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    if (QFileInfo::exists(target) || !QFile::rename(m_path, target)) return false;
    // The write-ahead log belongs to the damaged file and goes with it; the shared-memory index is rebuilt.
    if (QFileInfo::exists(m_path + QStringLiteral("-wal")))
        QFile::rename(m_path + QStringLiteral("-wal"), target + QStringLiteral("-wal"));
    QFile::remove(m_path + QStringLiteral("-shm"));
    m_setAside = target;
    return true;
}

void CheckHistory::tell(const QString& text) const {
    if (onTrouble) onTrouble(text);
}

bool CheckHistory::open(const QString& path, QString* error) {
    if (m_open) return true;
    m_path = path;
    QString err;
    const bool existed = QFileInfo::exists(path);
    if (!attach(&err)) {
        if (!existed || !setAside()) {
            if (error) *error = err;
            return false;
        }
        QString again;
        if (!attach(&again)) {
            if (error) *error = again;
            return false;
        }
        tell(QStringLiteral("Файл истории проверок повреждён (%1). Он сохранён как \"%2\", начата новая "
                            "история.")
                 .arg(err, QFileInfo(m_setAside).fileName()));
    }
    m_open = true;
    m_failing = false;
    m_store.addExtra(this);
    return true;
}

void CheckHistory::close() {
    if (!m_open) return;
    m_store.flush();
    m_store.removeExtra(this);
    detach();
    m_queue.clear();
    m_evidence.clearQueue();
    m_known.clear();
    m_allForgotten = false;
    m_open = false;
}

void CheckHistory::failed(int code, const QString& error) {
    // The rows are dropped: keeping them would hold every later write back behind them.
    m_queue.clear();
    m_evidence.clearQueue();
    const int primary = code & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
        // A file found damaged while in use is replaced by a fresh one; what is known in memory stays shown.
        m_store.removeExtra(this);
        m_open = false;
        detach();
        QString err;
        if (setAside() && attach(&err)) {
            m_open = true;
            m_store.addExtra(this);
            tell(QStringLiteral("Файл истории проверок повреждён (%1). Он сохранён как \"%2\", начата новая "
                                "история.")
                     .arg(error, QFileInfo(m_setAside).fileName()));
        } else {
            tell(QStringLiteral("История проверок недоступна: ") + error);
        }
        return;
    }
    if (!m_failing)
        tell(QStringLiteral("История проверок не записана: %1. Проверки продолжаются.").arg(error));
    m_failing = true;
}

sqlite3_stmt* CheckHistory::cached(Cached& c, const char* sql) const {
    sqlite3* db = m_store.connection();
    if (c.stmt && c.db == db) return c.stmt.get();
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        c = {};
        return nullptr;
    }
    c.db = db;
    c.stmt.reset(s);
    return s;
}

namespace {

// Leaves a kept statement ready for its next use.
struct ResetAfter {
    sqlite3_stmt* s;
    ~ResetAfter() {
        if (!s) return;
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};

} // namespace

const CheckHistory::Known& CheckHistory::known(CheckSubject subject, int id) const {
    const qint64 k = key(subject, id);
    if (auto it = m_known.find(k); it != m_known.end()) return it->second;
    Known found;
    if (m_open && !m_allForgotten) {
        sqlite3_stmt* s = cached(m_lastOf, "SELECT at, kind, reason, detail, lost_since FROM checks.last "
                                           "WHERE subject=?1 AND rid=?2 ORDER BY at DESC");
        const ResetAfter resetS{s};
        if (s) {
            sqlite3_bind_int(s, 1, int(subject));
            sqlite3_bind_int(s, 2, id);
            while (sqlite3_step(s) == SQLITE_ROW) {
                const CheckOutcome o = outcomeAt(s, 0);
                if (!found.newest) found.newest = o;
                if (o.kind == CheckKind::Presence) {
                    found.presence = o.reason;
                    found.lostSince = QDate::fromString(text(s, 4), Qt::ISODate);
                }
            }
        }
        // The last outcome may be one without a verdict (not fetched, no link elements): the kept history
        // tells the last verdict.
        if (found.presence && (isFound(*found.presence) || *found.presence == CheckReason::Missing)) {
            found.lastVerdictFound = isFound(*found.presence);
        } else if (found.presence) {
            static const QByteArray verdictSql =
                QStringLiteral("SELECT reason FROM checks.outcomes WHERE subject=?1 AND rid=?2 AND kind=%1 "
                               "AND reason IN (%2, %3, %4, %5) ORDER BY id DESC LIMIT 1")
                    .arg(int(CheckKind::Presence))
                    .arg(int(CheckReason::Found))
                    .arg(int(CheckReason::FoundNofollow))
                    .arg(int(CheckReason::FoundNoindex))
                    .arg(int(CheckReason::Missing))
                    .toUtf8();
            sqlite3_stmt* v = cached(m_verdictOf, verdictSql.constData());
            const ResetAfter resetV{v};
            if (v) {
                sqlite3_bind_int(v, 1, int(subject));
                sqlite3_bind_int(v, 2, id);
                if (sqlite3_step(v) == SQLITE_ROW)
                    found.lastVerdictFound = isFound(reasonFrom(sqlite3_column_int(v, 0)));
            }
        }
    }
    return m_known[k] = found;
}

std::optional<LastCheck> CheckHistory::last(CheckSubject subject, int id) const {
    const Known& k = known(subject, id);
    if (!k.newest) return std::nullopt;
    return LastCheck{*k.newest, k.lostSince};
}

bool CheckHistory::neverChecked(CheckSubject subject, int id) const {
    if (m_allForgotten) return false;
    const Known& k = known(subject, id);
    return !k.newest && !k.forgotten;
}

bool CheckHistory::lastVerdictFound(CheckSubject subject, int id) const {
    return known(subject, id).lastVerdictFound;
}

void CheckHistory::record(CheckSubject subject, int id, const CheckOutcome& outcome) {
    Known k = known(subject, id);
    CheckOutcome o = outcome;
    o.detail = o.detail.left(kMaxDetail);
    const bool loss =
        o.kind == CheckKind::Presence && o.reason == CheckReason::Missing && lastVerdictFound(subject, id);
    if (o.kind == CheckKind::Presence) {
        // Missing since the first miss after the last find, whatever came between (pages not fetched, pages
        // without link elements); found again clears it.
        if (isFound(o.reason)) {
            k.lostSince = {};
            k.lastVerdictFound = true;
        } else if (o.reason == CheckReason::Missing) {
            if (!k.lostSince.isValid() && k.lastVerdictFound) k.lostSince = o.at.date();
            k.lastVerdictFound = false;
        }
        k.presence = o.reason;
    }
    k.newest = o;
    m_known[key(subject, id)] = k;
    // Without a file the outcome is shown for this run only.
    if (!m_open) return;
    m_queue.push_back({subject, id, LastCheck{o, k.lostSince}, false, loss});
    m_store.extraChanged();
}

bool CheckHistory::fillLosses(QString* error) {
    sqlite3* c = m_store.connection();
    {
        sql::StmtPtr exists = sql::prepare(
            c, QStringLiteral("SELECT 1 FROM checks.sqlite_master WHERE type='table' AND name='losses'"));
        if (exists && sqlite3_step(exists.get()) == SQLITE_ROW) return true;
    }
    if (!sql::exec(c,
                   "SAVEPOINT losses;"
                   "CREATE TABLE checks.losses(subject INTEGER NOT NULL, rid INTEGER NOT NULL, "
                   "day INTEGER NOT NULL);"
                   "CREATE INDEX checks.losses_of ON losses(subject, rid);",
                   error)) {
        sql::exec(c, "ROLLBACK TO losses; RELEASE losses;", nullptr);
        return false;
    }
    // Rows are numbered as they are written, so the row order is each subject's time order.
    sql::StmtPtr scan = sql::prepare(
        c,
        QStringLiteral("SELECT subject, rid, reason, at FROM checks.outcomes NOT INDEXED WHERE kind=%1 AND "
                       "reason IN (%2, %3, %4, %5) ORDER BY id")
            .arg(int(CheckKind::Presence))
            .arg(int(CheckReason::Found))
            .arg(int(CheckReason::FoundNofollow))
            .arg(int(CheckReason::FoundNoindex))
            .arg(int(CheckReason::Missing)));
    sql::StmtPtr add =
        sql::prepare(c, QStringLiteral("INSERT INTO checks.losses(subject, rid, day) VALUES(?1, ?2, ?3)"));
    bool ok = scan && add;
    std::unordered_map<qint64, bool> found;
    while (ok && sqlite3_step(scan.get()) == SQLITE_ROW) {
        const int subject = sqlite3_column_int(scan.get(), 0), rid = sqlite3_column_int(scan.get(), 1);
        bool& was = found[(qint64(subject) << 32) | quint32(rid)];
        const CheckReason reason = reasonFrom(sqlite3_column_int(scan.get(), 2));
        if (reason != CheckReason::Missing) {
            was = true;
            continue;
        }
        if (!was) continue;
        was = false;
        const QDate day = QDate::fromString(text(scan.get(), 3).left(10), Qt::ISODate);
        if (!day.isValid()) continue;
        sqlite3_bind_int(add.get(), 1, subject);
        sqlite3_bind_int(add.get(), 2, rid);
        sqlite3_bind_int64(add.get(), 3, day.toJulianDay());
        ok = sqlite3_step(add.get()) == SQLITE_DONE;
        sqlite3_reset(add.get());
    }
    if (!ok) {
        if (error) *error = sql::errorText(c);
        sql::exec(c, "ROLLBACK TO losses; RELEASE losses;", nullptr);
        return false;
    }
    return sql::exec(c, "RELEASE losses;", error);
}

void CheckHistory::forget(CheckSubject subject, int id) {
    if (!m_open) return;
    Known gone;
    gone.forgotten = true;
    m_known[key(subject, id)] = gone;
    Queued q{subject, id, {}, true};
    m_queue.push_back(q);
    m_evidence.forget(int(subject), id);
    m_store.extraChanged();
}

void CheckHistory::forgetAll() {
    if (!m_open) return;
    m_known.clear();
    m_allForgotten = true;
    Queued q{CheckSubject::LinkPage, 0, {}, true};
    q.all = true;
    m_queue.push_back(q);
    m_evidence.forgetAll();
    m_store.extraChanged();
}

std::vector<CheckOutcome> CheckHistory::history(CheckSubject subject, int id) const {
    std::vector<CheckOutcome> out;
    // Not yet written: the newest; a deletion not yet written hides what is older.
    for (auto it = m_queue.rbegin(); it != m_queue.rend(); ++it) {
        if (it->all) return out;
        if (it->subject != subject || it->id != id) continue;
        if (it->forget) return out;
        out.push_back(it->last.outcome);
    }
    if (!m_open || m_allForgotten) return out;
    sql::StmtPtr s = sql::prepare(m_store.connection(),
                                  QStringLiteral("SELECT at, kind, reason, detail FROM checks.outcomes "
                                                 "WHERE subject=?1 AND rid=?2 ORDER BY id DESC LIMIT %1")
                                      .arg(kKeepPerSubject));
    if (!s) return out;
    sqlite3_bind_int(s.get(), 1, int(subject));
    sqlite3_bind_int(s.get(), 2, id);
    while (int(out.size()) < kKeepPerSubject && sqlite3_step(s.get()) == SQLITE_ROW)
        out.push_back(outcomeAt(s.get(), 0));
    return out;
}

std::unordered_set<int> CheckHistory::withLast(CheckSubject subject,
                                               const std::vector<CheckReason>& reasons) const {
    std::unordered_set<int> out;
    if (m_open && !m_allForgotten) {
        sql::StmtPtr s =
            sql::prepare(m_store.connection(),
                         QStringLiteral("SELECT rid, reason FROM checks.last WHERE subject=?1 AND kind=%1")
                             .arg(int(CheckKind::Presence)));
        if (s) {
            sqlite3_bind_int(s.get(), 1, int(subject));
            while (sqlite3_step(s.get()) == SQLITE_ROW)
                if (std::find(reasons.begin(), reasons.end(), reasonFrom(sqlite3_column_int(s.get(), 1))) !=
                    reasons.end())
                    out.insert(sqlite3_column_int(s.get(), 0));
        }
    }
    // What is known in memory is newer than the file.
    for (const auto& [k, known] : m_known) {
        if ((k >> 32) != int(subject)) continue;
        const int id = int(qint32(quint32(k & 0xffffffff)));
        if (!known.presence) {
            if (known.forgotten) out.erase(id);
            continue;
        }
        if (std::find(reasons.begin(), reasons.end(), *known.presence) != reasons.end())
            out.insert(id);
        else
            out.erase(id);
    }
    return out;
}

std::unordered_map<int, PresenceState> CheckHistory::presenceOfAll(CheckSubject subject) const {
    std::unordered_map<int, PresenceState> out;
    if (m_open) {
        sql::StmtPtr s = sql::prepare(
            m_store.connection(),
            QStringLiteral("SELECT rid, reason, lost_since FROM checks.last WHERE subject=?1 AND kind=%1")
                .arg(int(CheckKind::Presence)));
        if (s) {
            sqlite3_bind_int(s.get(), 1, int(subject));
            while (sqlite3_step(s.get()) == SQLITE_ROW) {
                PresenceState& p = out[sqlite3_column_int(s.get(), 0)];
                p.reason = reasonFrom(sqlite3_column_int(s.get(), 1));
                if (sqlite3_column_type(s.get(), 2) != SQLITE_NULL)
                    p.lostSince = QDate::fromString(text(s.get(), 2), Qt::ISODate);
            }
        }
    }
    // What is known in memory is newer than the file.
    for (const auto& [k, known] : m_known) {
        if ((k >> 32) != int(subject)) continue;
        const int id = int(qint32(quint32(k & 0xffffffff)));
        if (known.presence)
            out[id] = PresenceState{*known.presence, known.lostSince};
        else if (known.forgotten)
            out.erase(id);
    }
    return out;
}

std::vector<Loss> CheckHistory::losses(CheckSubject subject) const {
    std::vector<Loss> out;
    if (m_open) {
        sql::StmtPtr s = sql::prepare(
            m_store.connection(),
            QStringLiteral("SELECT rid, day FROM checks.losses NOT INDEXED WHERE subject=?1 ORDER BY rowid"));
        if (s) {
            sqlite3_bind_int(s.get(), 1, int(subject));
            while (sqlite3_step(s.get()) == SQLITE_ROW)
                out.push_back(
                    {sqlite3_column_int(s.get(), 0), QDate::fromJulianDay(sqlite3_column_int64(s.get(), 1))});
        }
    }
    // Not yet written: in the order they came; a deletion takes back what the subject lost before it.
    for (const Queued& q : m_queue) {
        if (q.subject != subject) continue;
        if (q.forget)
            std::erase_if(out, [&](const Loss& l) { return l.id == q.id; });
        else if (q.loss)
            out.push_back({q.id, q.last.outcome.at.date()});
    }
    return out;
}

bool CheckHistory::write(sqlite3* db, QString* error) {
    sql::StmtPtr add, last, trim, dropOutcomes, dropLast, dropLosses, addLoss;
    if (!sql::prepareAll(
            db,
            {{&add, QStringLiteral("INSERT INTO checks.outcomes(subject, rid, at, kind, reason, detail) "
                                   "VALUES(?1, ?2, ?3, ?4, ?5, ?6)")},
             {&last,
              QStringLiteral("INSERT OR REPLACE INTO checks.last(subject, rid, kind, at, reason, detail, "
                             "lost_since) VALUES(?1, ?2, ?4, ?3, ?5, ?6, ?7)")},
             // Beyond the newest kKeepPerSubject a subject's outcomes go.
             {&trim, sql::keepNewestSql("outcomes", kKeepPerSubject)},
             {&dropOutcomes, QStringLiteral("DELETE FROM checks.outcomes WHERE subject=?1 AND rid=?2")},
             {&dropLast, QStringLiteral("DELETE FROM checks.last WHERE subject=?1 AND rid=?2")},
             {&dropLosses, QStringLiteral("DELETE FROM checks.losses WHERE subject=?1 AND rid=?2")},
             {&addLoss, QStringLiteral("INSERT INTO checks.losses(subject, rid, day) VALUES(?1, ?2, ?3)")}},
            error))
        return false;
    for (const Queued& q : m_queue) {
        if (q.all) {
            if (!sql::exec(db,
                           "DELETE FROM checks.outcomes; DELETE FROM checks.last; DELETE FROM checks.losses;",
                           error))
                return false;
            continue;
        }
        if (q.forget) {
            for (sqlite3_stmt* s : {dropOutcomes.get(), dropLast.get(), dropLosses.get()}) {
                sqlite3_bind_int(s, 1, int(q.subject));
                sqlite3_bind_int(s, 2, q.id);
                const int rc = sqlite3_step(s);
                sqlite3_reset(s);
                if (rc != SQLITE_DONE) {
                    if (error) *error = sql::errorText(db);
                    return false;
                }
            }
            continue;
        }
        for (sqlite3_stmt* s : {add.get(), last.get()}) {
            sqlite3_bind_int(s, 1, int(q.subject));
            sqlite3_bind_int(s, 2, q.id);
            bindText(s, 3, sql::timeText(q.last.outcome.at));
            sqlite3_bind_int(s, 4, int(q.last.outcome.kind));
            sqlite3_bind_int(s, 5, int(q.last.outcome.reason));
            bindText(s, 6, q.last.outcome.detail);
        }
        if (q.last.lostSince.isValid())
            bindText(last.get(), 7, q.last.lostSince.toString(Qt::ISODate));
        else
            sqlite3_bind_null(last.get(), 7);
        sqlite3_bind_int(trim.get(), 1, int(q.subject));
        sqlite3_bind_int(trim.get(), 2, q.id);
        for (sqlite3_stmt* s : {add.get(), last.get(), trim.get()}) {
            const int rc = sqlite3_step(s);
            sqlite3_reset(s);
            if (rc != SQLITE_DONE) {
                if (error) *error = sql::errorText(db);
                return false;
            }
        }
        if (q.loss) {
            sqlite3_bind_int(addLoss.get(), 1, int(q.subject));
            sqlite3_bind_int(addLoss.get(), 2, q.id);
            sqlite3_bind_int64(addLoss.get(), 3, q.last.outcome.at.date().toJulianDay());
            const int rc = sqlite3_step(addLoss.get());
            sqlite3_reset(addLoss.get());
            if (rc != SQLITE_DONE) {
                if (error) *error = sql::errorText(db);
                return false;
            }
        }
    }
    return m_evidence.write(db, error);
}

void CheckHistory::written() {
    m_queue.clear();
    m_evidence.clearQueue();
    m_failing = false;
    m_allForgotten = false;
}

void CheckHistory::recordEvidence(CheckSubject subject, int id, const QDateTime& at, bool found,
                                  const QByteArray& encoded, const QStringList& events, KnownNewest newest) {
    if (!m_open) return;
    m_evidence.record(int(subject), id, at, found, encoded, events, newest);
    m_store.extraChanged();
}

void CheckHistory::keepSnapshot(CheckSubject subject, int id, const QDateTime& at, bool found,
                                const QString& pageText, const QByteArray& sha256) {
    if (!m_open) return;
    m_evidence.keepSnapshot(int(subject), id, at, found, pageText, sha256);
    m_store.extraChanged();
}

sqlite3* CheckHistory::connection() const {
    return m_open && !m_allForgotten ? m_store.connection() : nullptr;
}

} // namespace zentaro::db
