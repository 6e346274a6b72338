// The history of web checks: what was checked, what it came to, kept in its own store file.
#pragma once

#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <QDate>
#include <QDateTime>
#include <QString>

#include "db/evidence_store.h"
#include "db/sqlite_util.h"
#include "db/store.h"

namespace zentaro::db {

// What was checked.
enum class CheckKind { Presence = 0, ExtLinks = 1, Metrics = 2, Index = 3 };

// What a check came to. The numbers are stored: new reasons take new numbers.
enum class CheckReason {
    Found = 0,         // every anchor on the page, followed
    FoundNofollow = 1, // every anchor there, some with rel nofollow, sponsored or ugc
    FoundNoindex = 2,  // every anchor there, the page closed to indexing (meta robots, X-Robots-Tag)
    Missing = 3,       // an anchor is not on the page
    NoAnchors = 4,     // the link page has no anchor records
    NoLinks = 5,       // the page has no link elements
    Timeout = 10,      // not fetched: no answer in time
    Refused = 11,      // not fetched: connection refused or host not found
    Tls = 12,          // not fetched: TLS failed
    HttpError = 13,    // not fetched: status 400 or above (detail: the code)
    BadRedirect = 14,  // not fetched: redirect to a refused scheme, without address or too many
    TooLarge = 15,     // not fetched: reply over the size cap
    NotFetched = 16,   // not fetched: another network error
    Blocked = 17,      // not fetched: the site answered with a bot-protection challenge (403 or 503)
    Throttled = 18,    // not fetched: the site asked to wait longer than a run waits (detail: how long)
    Counted = 20,      // external links counted (detail: the count)
    Updated = 21,      // metrics answered (detail: the values)
    NoAnswer = 22,     // metrics not answered
    Indexed = 23,      // index check: in the index
    NotIndexed = 24,   // index check: not in the index
};

bool isFound(CheckReason r);
bool isNotFetched(CheckReason r);
// A few Russian words for the grid and the history, and the colour they are shown in (0xRRGGBB).
QString reasonText(CheckReason r);
unsigned reasonRgb(CheckReason r);
QString kindText(CheckKind k);

struct CheckOutcome {
    QDateTime at;
    CheckKind kind = CheckKind::Presence;
    CheckReason reason = CheckReason::Found;
    QString detail;
};

// The last outcome of a subject and, for link pages, since when a found link is missing.
struct LastCheck {
    CheckOutcome outcome;
    QDate lostSince;
};

// Whose outcome it is.
enum class CheckSubject { LinkPage = 0, Site = 1 };

// The last presence verdict of one subject and since when a found link is missing.
struct PresenceState {
    CheckReason reason = CheckReason::Found;
    QDate lostSince;
};

// A link found before and then missing: whose, and the day the missing outcome came.
struct Loss {
    int id = 0;
    QDate day;
};

// The outcomes of the checks, per link page and site, in a file of their own beside the tables
// ("checks.adb"): the last one of each subject and a history of at most kKeepPerSubject. Nothing is held in
// memory but the last outcomes asked for; rows are written with the store's writes, in a transaction of their
// own. The history is an extra: when it cannot be written its rows are dropped and the tables go on.
class CheckHistory final : public StoreExtra {
public:
    static constexpr int kKeepPerSubject = 50;

    explicit CheckHistory(Store& store);
    ~CheckHistory() override;
    CheckHistory(const CheckHistory&) = delete;
    CheckHistory& operator=(const CheckHistory&) = delete;

    // Attaches the file (made when missing); false with the error text. A damaged or foreign file is set
    // aside as "checks.adb.damaged-YYYYMMDD" and a fresh one made, told through onTrouble.
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_open; }
    // Writes what is pending with the store and lets the file go: nothing is recorded any more.
    void close();

    // Keeps an outcome: the last one at once, the history with the next write of the store.
    void record(CheckSubject subject, int id, const CheckOutcome& outcome);
    // Drops every outcome of a subject that is deleted (its number may be given to a new record).
    void forget(CheckSubject subject, int id);
    // Drops every outcome: the tables were replaced as a whole (an import or a restore), and the numbers the
    // outcomes were kept under may now belong to other pages and sites.
    void forgetAll();
    std::optional<LastCheck> last(CheckSubject subject, int id) const;
    // No outcome of the subject was ever kept. A subject forgotten in this session does not count as never
    // checked: its rows stay in the file if the forgetting is never written.
    bool neverChecked(CheckSubject subject, int id) const;
    // The last presence verdict of a link page (found or missing; outcomes without one skipped) was found.
    bool lastVerdictFound(CheckSubject subject, int id) const;
    // Newest first.
    std::vector<CheckOutcome> history(CheckSubject subject, int id) const;
    // The subjects whose last outcome is one of the reasons.
    std::unordered_set<int> withLast(CheckSubject subject, const std::vector<CheckReason>& reasons) const;

    // Said once to the user when the history is set aside or cannot be written (until it can again).
    std::function<void(const QString&)> onTrouble;
    // Where the last damaged file was put (empty when none).
    const QString& setAsidePath() const { return m_setAside; }
    // The last presence verdict of every subject of a kind that has one.
    std::unordered_map<int, PresenceState> presenceOfAll(CheckSubject subject) const;
    // Every loss: the first "missing" after a "found" of a subject, in the order they came. Outcomes without
    // a verdict in between (not fetched, no anchors) neither end nor start a loss. Losses are kept apart
    // from the trimmed history, so that reports over time need not read every outcome.
    std::vector<Loss> losses(CheckSubject subject) const;

    // What the presence checks saw and what changed, kept with the outcomes.
    const EvidenceStore& evidence() const { return m_evidence; }
    // The bytes of kept pages beyond which the oldest go (tests make it small).
    void setSnapshotBudget(qint64 bytes) { m_evidence.snapshotBudget = bytes; }
    // Keeps a presence check's evidence and change events (with the next write of the store).
    // encoded: as encodeEvidence gives it.
    void recordEvidence(CheckSubject subject, int id, const QDateTime& at, bool found,
                        const QByteArray& encoded, const QStringList& events,
                        KnownNewest newest = KnownNewest::Unknown);
    void recordEvidence(CheckSubject subject, int id, const QDateTime& at, bool found,
                        const Evidence& evidence, const QStringList& events) {
        recordEvidence(subject, id, at, found, encodeEvidence(evidence), events);
    }
    void keepSnapshot(CheckSubject subject, int id, const QDateTime& at, bool found, const QString& pageText,
                      const QByteArray& sha256);
    // The connection the history's reads go through; null when it is not open.
    sqlite3* connection() const;

    // StoreExtra
    bool pending() const override { return !m_queue.empty() || m_evidence.pending(); }
    bool write(sqlite3* db, QString* error) override;
    void written() override;
    void failed(int code, const QString& error) override;

private:
    bool attach(QString* error);
    void detach();
    // Renames the damaged file (and its log) aside; false when it cannot be moved.
    bool setAside();
    void tell(const QString& text) const;

    static qint64 key(CheckSubject s, int id) { return (qint64(s) << 32) | quint32(id); }

    Store& m_store;
    QString m_path;
    QString m_setAside;
    bool m_open = false;
    bool m_failing = false;
    struct Queued {
        CheckSubject subject;
        int id;
        LastCheck last;
        bool forget = false;
        bool loss = false; // this outcome is a loss
        bool all = false;  // every subject
    };
    // Losses of a file written before they were kept apart, found once from its history.
    bool fillLosses(QString* error);
    // What is known of a subject: its newest outcome, its last presence outcome and whether the last
    // presence verdict (found or missing, whatever came between) was found.
    struct Known {
        std::optional<CheckOutcome> newest;
        std::optional<CheckReason> presence;
        bool lastVerdictFound = false;
        QDate lostSince;
        bool forgotten = false; // deleted in this run: what the file still holds does not count
    };
    const Known& known(CheckSubject subject, int id) const;
    // A statement asked for every page of a run, prepared once on the connection it was made for and
    // finalized when the file is let go.
    struct Cached {
        sqlite3* db = nullptr;
        sql::StmtPtr stmt;
    };
    sqlite3_stmt* cached(Cached& c, const char* sql) const;
    mutable Cached m_lastOf, m_verdictOf;

    std::vector<Queued> m_queue;
    EvidenceStore m_evidence;
    bool m_allForgotten = false; // until written, what the file holds does not count
    mutable std::unordered_map<qint64, Known> m_known;
};

} // namespace zentaro::db
