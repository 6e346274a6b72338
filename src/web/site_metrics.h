// Site metrics: the Yandex TIC and Google PageRank of a site, and where they are stored.
#pragma once

#include <cstdint>

#include <QString>

#include "db/forward.h"

namespace zentaro::web {

class PageFetcher;

// The checksum the PageRank query carries.
std::int64_t Str2Num(const QString& s, std::int64_t c, std::int64_t m);
std::int64_t HashURL(const QString& S);
QString GetHash(std::int64_t val);

// The Yandex TIC of an address; 0 when the service gives none or cannot be reached.
int GetCY(PageFetcher& fetcher, const QString& AUrl);

struct PageRankResult {
    bool ok = false;
    int value = -1;
    QString error; // "GetPageRank Error: " and the cause
};
// The Google PageRank of an address; -1 when the answer holds no rank.
PageRankResult GetPageRank(PageFetcher& fetcher, const QString& AUrl);

// TIC and PR of the current trust site (as stored), stored with today's date. CMode 0 confirms success.
void UpDatePRCY(db::Database& db, PageFetcher& fetcher, UserInterface& ui, int CMode);

// The same in two steps: the two requests for a site, then the values stored (or the error said).
struct SiteMetrics {
    bool asked = false;
    PageRankResult pr;
    int tic = 0;
};
SiteMetrics fetchSiteMetrics(PageFetcher& fetcher, const QString& site);
void applySiteMetrics(db::Database& db, UserInterface& ui, const SiteMetrics& m, int CMode);
// TIC and PR of the current link page's domain, stored with today's date. CMode 1 shows the values.
void UpDateLinkPRCY(db::Database& db, PageFetcher& fetcher, UserInterface& ui, int CMode);
// TIC and PR of the current project's prepared site address, stored and shown.
void sbPRCYProjectUpdateClick(db::Database& db, PageFetcher& fetcher, UserInterface& ui);

} // namespace zentaro::web
