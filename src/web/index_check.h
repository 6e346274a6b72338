// Index checks: whether Yandex, Google and Mail.ru know a link page, and the flags stored.
#pragma once

#include <QString>

#include "db/forward.h"

namespace zentaro::web {

class PageFetcher;

// Index query result codes.
enum IndexResult : int { kNotIndexed = 0, kIndexed = 1, kCaptcha = 2, kIndexError = 3 };

// What the checks need besides the fetcher: the user (for captchas) and where the captcha image goes.
struct IndexContext {
    PageFetcher& fetcher;
    UserInterface& ui;
    QString
        captchaImage; // "yandex.gif" in the program folder, or in the data folder when that cannot be written
    // Set when the captcha exchange failed (a request, the image): the check ends with this text.
    QString exchangeError;
};

// The address as the Yandex and Google queries take it: lower-cased, trimmed of blanks, the first "http://"
// and then the first "https://" removed.
QString indexQueryAddress(const QString& SURL);

int IndexYandex(IndexContext& c, const QString& SURL);
int IndexGoogle(IndexContext& c, const QString& SURL);
int IndexMail(IndexContext& c, const QString& SURL);

// Asks the three engines about the current link page and stores its flags and the check date; with showmsg
// the outcome is shown. An error of the captcha exchange ends the check before any flag is set and is shown.
// False when that happened.
bool CheckPageIndex(db::Database& db, IndexContext& c, const QString& SURL, bool showmsg);
void sbPageCheckIndexClick(db::Database& db, IndexContext& c);

} // namespace zentaro::web
