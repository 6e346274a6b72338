// The Yandex captcha exchange: the captcha page read, the user asked, the answer sent back.
#pragma once

#include <optional>

#include <QString>

namespace zentaro {
class UserInterface;
}

namespace zentaro::web {

class PageFetcher;

// The values a captcha page gives: the full key, the key of the image (up to the first "_") and the return
// path, as the page holds them.
struct CaptchaPage {
    QString key;
    QString imageKey;
    QString retpath;
};
// Reads the hidden fields of a captcha page; no value when it holds no key or the image key is empty. A
// page without a return path gives an empty one (the answer is still sent).
std::optional<CaptchaPage> parseCaptchaPage(const QString& page);

// The answer as it is sent: Windows-1251, query-encoded, cut to 255 characters.
QString encodeCaptchaAnswer(const QString& answer);

struct CaptchaOutcome {
    bool shown = false;           // a captcha was shown to the user
    std::optional<QString> error; // a request or the image failed: the caller ends its check with this text
};

// One exchange with the Yandex search: a fresh captcha page, its image into imageFile, the user's answer
// (UserInterface::ShowCaptcha; "Отмена" sets the web stop flag), and the answer sent back unless it is empty
// or the stop flag is set.
CaptchaOutcome YandexCaptcha(PageFetcher& fetcher, UserInterface& ui, const QString& imageFile);

} // namespace zentaro::web
