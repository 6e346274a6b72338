// Index checks: the three search queries, their answers read, and the flags stored.
#include "web/index_check.h"

#include <algorithm>

#include <QDate>

#include "db/database.h"
#include "util/text_helpers.h"
#include "util/user_interface.h"
#include "web/check_outcomes.h"
#include "web/captcha.h"
#include "web/page_fetcher.h"
#include "web/url_forms.h"

namespace zentaro::web {

namespace {

QString searchUrl(const QString& host, const QString& target) {
    return QStringLiteral("http://") + host + target;
}

// Captcha pages that give no key in a row before the Yandex query gives up: an engine that keeps sending
// them would otherwise be asked for ever.
constexpr int kKeylessRounds = 3;

} // namespace

QString indexQueryAddress(const QString& SURL) {
    QString s = DelLabelsBeginEnd(SURL.toLower());
    for (const QString& scheme : {QStringLiteral("http://"), QStringLiteral("https://")}) {
        const qsizetype at = s.indexOf(scheme);
        if (at >= 0) s.remove(at, scheme.size());
    }
    return s;
}

int IndexYandex(IndexContext& c, const QString& SURL) {
    if (SURL.isEmpty()) return kIndexError;
    QString address = indexQueryAddress(SURL);
    int keyless = 0;
    while (true) {
        const std::optional<QString> answer = c.fetcher.FetchPage(
            searchUrl(c.fetcher.hosts.yandexSearch, QStringLiteral("/yandsearch?text=url:(") +
                                                        QString::fromLatin1(HTTPEncode(toAnsi(address))) +
                                                        QStringLiteral(")")),
            true);
        if (!answer) {
            c.fetcher.GlobalStop = true;
            return kIndexError;
        }
        if (answer->contains(QStringLiteral("По вашему запросу ничего не нашлось"))) return kNotIndexed;
        if (!answer->contains(QStringLiteral("/captcha/next.gif"))) return kIndexed;
        const CaptchaOutcome outcome = YandexCaptcha(c.fetcher, c.ui, c.captchaImage);
        if (outcome.error) {
            c.exchangeError = *outcome.error;
            return kIndexError;
        }
        if (c.fetcher.GlobalStop) return kIndexError;
        keyless = outcome.shown ? 0 : keyless + 1;
        if (keyless >= kKeylessRounds) {
            c.fetcher.GlobalStop = true;
            return kIndexError;
        }
        address = indexQueryAddress(address);
    }
}

int IndexGoogle(IndexContext& c, const QString& SURL) {
    if (SURL.isEmpty()) return kIndexError;
    const std::optional<QString> answer = c.fetcher.FetchPage(
        searchUrl(c.fetcher.hosts.googleSearch,
                  QStringLiteral("/search?hl=ru&gl=RU&q=info:") + indexQueryAddress(SURL)),
        true);
    if (!answer) {
        c.fetcher.GlobalStop = true;
        return kIndexError;
    }
    if (answer->contains(QStringLiteral("Извините, у нас нет информации об адресе"))) return kNotIndexed;
    if (answer->contains(QStringLiteral("Чтобы продолжить, введите указанные ниже символы:<br><br>")))
        return kCaptcha;
    return kIndexed;
}

int IndexMail(IndexContext& c, const QString& SURL) {
    if (SURL.isEmpty()) return kIndexError;
    const QString address = DelLabelsBeginEnd(SURL.toLower());
    const QString key = PrepareURL(address);
    const std::optional<QString> answer = c.fetcher.FetchPage(
        searchUrl(c.fetcher.hosts.mailSearch, QStringLiteral("/search?q=") + address), true);
    if (!answer) {
        c.fetcher.GlobalStop = true;
        return kIndexError;
    }
    const std::vector<ElementRange> titles = extractElementRanges(*answer, ElementKind::ResultTitle);
    if (titles.empty()) return kIndexError;
    for (const ElementRange& r : titles)
        if (elementText(*answer, r).toLower().contains(key)) return kIndexed;
    return kNotIndexed;
}

bool CheckPageIndex(db::Database& db, IndexContext& c, const QString& SURL, bool showmsg) {
    if (SURL.isEmpty()) return true;
    db::Table& links = db.tbLink;
    struct Engine {
        const char* name;
        const char* field;
        int (*query)(IndexContext&, const QString&);
    };
    static const Engine engines[] = {{"Yandex", "PageIndexY", IndexYandex},
                                     {"Google", "PageIndexG", IndexGoogle},
                                     {"Go@Mail", "PageIndexM", IndexMail}};
    static const char* const words[] = {"не в индексе", "в индексе", "каптча", "ошибка"};
    int results[3] = {};
    QString failures[3];
    c.exchangeError.clear();
    for (int i = 0; i < 3; ++i) {
        results[i] = engines[i].query(c, SURL);
        if (results[i] == kCaptcha) failures[i] = QStringLiteral("каптча");
        if (results[i] == kIndexError)
            failures[i] = c.fetcher.lastError().isEmpty() ? QStringLiteral("ответ без результатов")
                                                          : c.fetcher.lastError().left(200);
        if (!c.exchangeError.isEmpty()) {
            keepOutcome(db, db::CheckSubject::LinkPage, links.asInteger(QStringLiteral("ID")),
                        db::CheckKind::Index, db::CheckReason::NotFetched, c.exchangeError);
            c.ui.showError(c.exchangeError, QStringLiteral("Ошибка"));
            return false;
        }
    }
    // An engine that failed has not said the page is missing: without one answer nothing is learnt, and the
    // page keeps its flags and date.
    const bool answered =
        std::any_of(std::begin(results), std::end(results), [](int r) { return r <= kIndexed; });
    if (answered) links.edit();
    QString message, detail;
    for (int i = 0; i < 3; ++i) {
        const int r = results[i];
        const QString line =
            QString::fromLatin1(engines[i].name) + QStringLiteral(": ") + QString::fromUtf8(words[r]);
        message += line + QStringLiteral("\r\n");
        detail += line +
                  (r >= kCaptcha ? QStringLiteral(" (не проверено: %1)").arg(failures[i]) : QString()) +
                  QStringLiteral("; ");
        if (answered)
            links.setValue(QString::fromLatin1(engines[i].field),
                           r <= kIndexed ? QVariant(QString::number(r)) : QVariant());
        if (r >= kCaptcha) c.fetcher.GlobalStop = true;
    }
    if (answered) {
        links.setValue(QStringLiteral("UpdateIndexDate"), QDate::currentDate());
        links.post();
    }
    const bool anyIndexed = std::find(std::begin(results), std::end(results), kIndexed) != std::end(results);
    keepOutcome(db, db::CheckSubject::LinkPage, links.asInteger(QStringLiteral("ID")), db::CheckKind::Index,
                anyIndexed ? db::CheckReason::Indexed
                : answered ? db::CheckReason::NotIndexed
                           : db::CheckReason::NotFetched,
                detail);
    if (showmsg) Msg(c.ui, message);
    return true;
}

void sbPageCheckIndexClick(db::Database& db, IndexContext& c) {
    CheckPageIndex(db, c, db.tbLink.asString(QStringLiteral("PageURL")), true);
}

} // namespace zentaro::web
