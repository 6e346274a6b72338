// What a request came to: why it failed, its last status, its redirects and the headers the checks read.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace zentaro::web {

// Why a request failed, for the check outcomes.
enum class FetchFailure {
    None,
    BadAddress,
    BadRedirect,
    Cancelled,
    TooLarge,
    Http,
    Timeout,
    Refused,
    Tls,
    Network,
    Blocked,   // a bot-protection challenge page (403 or 503)
    Throttled, // the host asked to wait longer than the cap (429 or 503 with Retry-After)
    Deferred   // given up by the run to keep its memory bound; fetched again later, not an outcome
};

// What a fetch came to beyond the body: the failure, the last status, the address after redirects and the
// X-Robots-Tag header of the answer.
struct FetchInfo {
    FetchFailure failure = FetchFailure::None;
    int status = 0;
    QString finalUrl;
    QByteArray robots;
    // Why each earlier attempt of a retried request failed, for the history.
    QStringList attempts;
    // The redirects of the last try, in order: each answer's status and the address it sent the request on
    // to.
    struct Hop {
        int status = 0;
        QString target;
    };
    QList<Hop> hops;
    // The Content-Type header of the last answer.
    QByteArray contentType;
    // Tries cut by a host's short first-try read timeout and sent again at once with the full one.
    int quickRetries = 0;
};

} // namespace zentaro::web
