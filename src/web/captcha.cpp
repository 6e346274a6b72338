// The Yandex captcha exchange: the captcha page read, the user asked, the answer sent back.
#include "web/captcha.h"

#include <QFile>

#include "util/user_interface.h"
#include "web/page_fetcher.h"
#include "web/url_forms.h"

namespace zentaro::web {

namespace {

QString hiddenValue(const QString& page, const QString& name) {
    const QString marker = QStringLiteral("<input type=\"hidden\" name=\"%1\" value=\"").arg(name);
    const qsizetype at = page.indexOf(marker);
    if (at < 0) return {};
    const qsizetype from = at + marker.size();
    const qsizetype end = page.indexOf(u'"', from);
    return page.mid(from, end < 0 ? -1 : end - from);
}

QString url(const QString& host, const QString& target) {
    return QStringLiteral("http://") + host + target;
}

} // namespace

std::optional<CaptchaPage> parseCaptchaPage(const QString& page) {
    if (!page.contains(QStringLiteral("<input type=\"hidden\" name=\"key\" value=\""))) return std::nullopt;
    CaptchaPage c;
    c.key = hiddenValue(page, QStringLiteral("key"));
    const qsizetype underscore = c.key.indexOf(u'_');
    c.imageKey = underscore < 0 ? c.key : c.key.left(underscore);
    if (c.imageKey.isEmpty()) return std::nullopt;
    c.retpath = hiddenValue(page, QStringLiteral("retpath"));
    return c;
}

QString encodeCaptchaAnswer(const QString& answer) {
    return QString::fromLatin1(HTTPEncode(toAnsi(answer)).left(255));
}

CaptchaOutcome YandexCaptcha(PageFetcher& fetcher, UserInterface& ui, const QString& imageFile) {
    CaptchaOutcome out;
    {
        QFile image(imageFile);
        if (!image.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            out.error =
                QStringLiteral("Не удалось создать файл \"%1\": %2").arg(imageFile, image.errorString());
            return out;
        }
    }
    // The three requests share the fetcher's cookie store, so the service sees one client.
    const std::optional<QString> page =
        fetcher.FetchPage(url(fetcher.hosts.yandexSearch, QStringLiteral("/yandsearch?text=123")), true);
    if (!page) {
        out.error = fetcher.lastError();
        return out;
    }
    const std::optional<CaptchaPage> captcha = parseCaptchaPage(*page);
    if (!captcha) return out;
    if (!fetcher.fetchPageToFile(
            url(fetcher.hosts.yandexCaptcha, QStringLiteral("/image?key=") + captcha->imageKey), true,
            imageFile)) {
        out.error = fetcher.lastError().isEmpty()
                        ? QStringLiteral("Не удалось записать файл \"%1\"").arg(imageFile)
                        : fetcher.lastError();
        return out;
    }
    out.shown = true;
    bool cancelled = false;
    const QString answer = ui.ShowCaptcha(imageFile, cancelled);
    if (cancelled) fetcher.GlobalStop = true;
    if (answer.isEmpty() || fetcher.GlobalStop) return out;
    const QString target = QStringLiteral("/checkcaptcha?key=") + captcha->key + QStringLiteral("&retpath=") +
                           captcha->retpath + QStringLiteral("&rep=") + encodeCaptchaAnswer(answer);
    if (!fetcher.FetchPage(url(fetcher.hosts.yandexSearch, target), true)) out.error = fetcher.lastError();
    return out;
}

} // namespace zentaro::web
