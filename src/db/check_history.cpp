#include "db/check_history.h"

#include <algorithm>

#include "db/sqlite_util.h"

namespace zentaro::db {

namespace {

constexpr int kMaxDetail = 2000;

CheckReason reasonFrom(int v) {
    static const int known[] = {0, 1, 2, 3, 4, 5, 10, 11, 12, 13, 14, 15, 16, 20, 21, 22, 23, 24};
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
    return int(r) >= 10 && int(r) <= 16;
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
    if (r == CheckReason::Missing || r == CheckReason::NoAnchors || r == CheckReason::NotIndexed)
        return 0xc00000; // red
    return 0xb06000;     // amber: no verdict or a doubtful one
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

bool CheckHistory::open(const QString& path, QString* error) {
    if (m_open) return true;
    if (!m_store.attachFile(QStringLiteral("checks"), path, error)) return false;
    // The history is written ahead in a log and synced at its checkpoints: a power cut may lose the last
    // outcomes but never damages the file, and the tables' transactions stay one-file commits (a commit
    // over two rollback journals costs several more syncs per write).
    if (!sql::exec(m_store.connection(), "PRAGMA checks.journal_mode=WAL; PRAGMA checks.synchronous=NORMAL;",
                   error) ||
        !sql::exec(
            m_store.connection(),
            "CREATE TABLE IF NOT EXISTS checks.outcomes(id INTEGER PRIMARY KEY, subject INTEGER NOT NULL, "
            "rid INTEGER NOT NULL, at TEXT NOT NULL, kind INTEGER NOT NULL, reason INTEGER NOT NULL, "
            "detail TEXT NOT NULL);"
            "CREATE INDEX IF NOT EXISTS checks.outcomes_of ON outcomes(subject, rid, id);"
            "CREATE TABLE IF NOT EXISTS checks.last(subject INTEGER NOT NULL, rid INTEGER NOT NULL, "
            "kind INTEGER NOT NULL, at TEXT NOT NULL, reason INTEGER NOT NULL, detail TEXT NOT NULL, "
            "lost_since TEXT, PRIMARY KEY(subject, rid, kind)) WITHOUT ROWID;",
            error)) {
        sql::exec(m_store.connection(), "DETACH DATABASE checks", nullptr);
        return false;
    }
    m_open = true;
    m_store.addExtra(this);
    return true;
}

void CheckHistory::close() {
    if (!m_open) return;
    m_store.flush();
    m_store.removeExtra(this);
    sql::exec(m_store.connection(), "DETACH DATABASE checks", nullptr);
    m_queue.clear();
    m_known.clear();
    m_allForgotten = false;
    m_open = false;
}

const CheckHistory::Known& CheckHistory::known(CheckSubject subject, int id) const {
    const qint64 k = key(subject, id);
    if (auto it = m_known.find(k); it != m_known.end()) return it->second;
    Known found;
    if (m_open && !m_allForgotten) {
        sql::StmtPtr s =
            sql::prepare(m_store.connection(),
                         QStringLiteral("SELECT at, kind, reason, detail, lost_since FROM checks.last "
                                        "WHERE subject=?1 AND rid=?2 ORDER BY at DESC"));
        if (s) {
            sqlite3_bind_int(s.get(), 1, int(subject));
            sqlite3_bind_int(s.get(), 2, id);
            while (sqlite3_step(s.get()) == SQLITE_ROW) {
                const CheckOutcome o = outcomeAt(s.get(), 0);
                if (!found.newest) found.newest = o;
                if (o.kind == CheckKind::Presence) {
                    found.presence = o.reason;
                    found.lostSince = QDate::fromString(text(s.get(), 4), Qt::ISODate);
                }
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

void CheckHistory::record(CheckSubject subject, int id, const CheckOutcome& outcome) {
    Known k = known(subject, id);
    CheckOutcome o = outcome;
    o.detail = o.detail.left(kMaxDetail);
    if (o.kind == CheckKind::Presence) {
        // Missing since the first check that did not find a link found before; found again clears it.
        if (isFound(o.reason))
            k.lostSince = {};
        else if (o.reason == CheckReason::Missing && !k.lostSince.isValid() && k.presence &&
                 isFound(*k.presence))
            k.lostSince = o.at.date();
        k.presence = o.reason;
    }
    k.newest = o;
    m_known[key(subject, id)] = k;
    m_queue.push_back({subject, id, LastCheck{o, k.lostSince}});
    m_store.extraChanged();
}

void CheckHistory::forget(CheckSubject subject, int id) {
    if (!m_open) return;
    Known gone;
    gone.forgotten = true;
    m_known[key(subject, id)] = gone;
    Queued q{subject, id, {}, true};
    m_queue.push_back(q);
    m_store.extraChanged();
}

void CheckHistory::forgetAll() {
    if (!m_open) return;
    m_known.clear();
    m_allForgotten = true;
    Queued q{CheckSubject::LinkPage, 0, {}, true, true};
    m_queue.push_back(q);
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

bool CheckHistory::write(sqlite3* db, QString* error) {
    sql::StmtPtr add =
        sql::prepare(db, QStringLiteral("INSERT INTO checks.outcomes(subject, rid, at, kind, reason, "
                                        "detail) VALUES(?1, ?2, ?3, ?4, ?5, ?6)"));
    sql::StmtPtr last =
        sql::prepare(db, QStringLiteral("INSERT OR REPLACE INTO checks.last(subject, rid, kind, at, "
                                        "reason, detail, lost_since) VALUES(?1, ?2, ?4, ?3, ?5, ?6, ?7)"));
    // Beyond the newest kKeepPerSubject a subject's outcomes go.
    sql::StmtPtr trim = sql::prepare(
        db,
        QStringLiteral("DELETE FROM checks.outcomes WHERE subject=?1 AND rid=?2 AND id <= (SELECT id FROM "
                       "checks.outcomes WHERE subject=?1 AND rid=?2 ORDER BY id DESC LIMIT 1 OFFSET %1)")
            .arg(kKeepPerSubject));
    if (!add || !last || !trim) {
        if (error) *error = sql::errorText(db);
        return false;
    }
    sql::StmtPtr dropOutcomes =
        sql::prepare(db, QStringLiteral("DELETE FROM checks.outcomes WHERE subject=?1 AND rid=?2"));
    sql::StmtPtr dropLast =
        sql::prepare(db, QStringLiteral("DELETE FROM checks.last WHERE subject=?1 AND rid=?2"));
    if (!dropOutcomes || !dropLast) {
        if (error) *error = sql::errorText(db);
        return false;
    }
    for (const Queued& q : m_queue) {
        if (q.all) {
            if (!sql::exec(db, "DELETE FROM checks.outcomes; DELETE FROM checks.last;", error)) return false;
            continue;
        }
        if (q.forget) {
            for (sqlite3_stmt* s : {dropOutcomes.get(), dropLast.get()}) {
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
            bindText(s, 3, q.last.outcome.at.toString(Qt::ISODateWithMs));
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
    }
    return true;
}

void CheckHistory::written() {
    m_queue.clear();
    m_allForgotten = false;
}

} // namespace zentaro::db
