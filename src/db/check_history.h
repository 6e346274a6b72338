#pragma once

#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <QDate>
#include <QDateTime>
#include <QString>

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

// The outcomes of the checks, per link page and site, in a file of their own beside the tables
// ("checks.adb"): the last one of each subject and a history of at most kKeepPerSubject. Nothing is held in
// memory but the last outcomes asked for; rows are written in the store's transactions.
class CheckHistory final : public StoreExtra {
public:
    static constexpr int kKeepPerSubject = 50;

    explicit CheckHistory(Store& store);
    ~CheckHistory() override;
    CheckHistory(const CheckHistory&) = delete;
    CheckHistory& operator=(const CheckHistory&) = delete;

    // Attaches the file (made when missing); false with the error text.
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
    // Newest first.
    std::vector<CheckOutcome> history(CheckSubject subject, int id) const;
    // The subjects whose last outcome is one of the reasons.
    std::unordered_set<int> withLast(CheckSubject subject, const std::vector<CheckReason>& reasons) const;

    // StoreExtra
    bool pending() const override { return !m_queue.empty(); }
    bool write(sqlite3* db, QString* error) override;
    void written() override;

private:
    static qint64 key(CheckSubject s, int id) { return (qint64(s) << 32) | quint32(id); }

    Store& m_store;
    bool m_open = false;
    struct Queued {
        CheckSubject subject;
        int id;
        LastCheck last;
        bool forget = false;
        bool all = false; // every subject
    };
    // What is known of a subject: its newest outcome and its last presence verdict.
    struct Known {
        std::optional<CheckOutcome> newest;
        std::optional<CheckReason> presence;
        QDate lostSince;
        bool forgotten = false; // deleted in this run: what the file still holds does not count
    };
    const Known& known(CheckSubject subject, int id) const;

    std::vector<Queued> m_queue;
    bool m_allForgotten = false; // until written, what the file holds does not count
    mutable std::unordered_map<qint64, Known> m_known;
};

} // namespace zentaro::db
