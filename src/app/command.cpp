// The commands the panes ask the main window to run: web checks, site metrics and list exchange.
#include "app/command.h"

#include <QHash>

namespace zentaro::app {

std::optional<Command> commandNamed(const QString& operation) {
    // The names the panes' buttons and menu items send.
    static const QHash<QString, Command> names{
        {QStringLiteral("CheckAllPageLink"), Command::checkAllPageLink},
        {QStringLiteral("CheckExtLinksAll"), Command::checkExtLinksAll},
        {QStringLiteral("CheckExtLinksNew"), Command::checkExtLinksNew},
        {QStringLiteral("UpdateSitePRCYAll"), Command::updateSitePrcyAll},
        {QStringLiteral("UpdateSitePRCYNew"), Command::updateSitePrcyNew},
        {QStringLiteral("N18Click"), Command::exportLinks},
        {QStringLiteral("N19Click"), Command::exportSites},
        {QStringLiteral("ImportLinks"), Command::importLinks},
        {QStringLiteral("ImportSite"), Command::importSites},
        {QStringLiteral("CheckPageLink"), Command::checkPageLink},
        {QStringLiteral("sbExtLinksClick"), Command::extLinksOfPage},
        {QStringLiteral("UpDateLinkPRCY"), Command::linkPrcy},
        {QStringLiteral("UpDatePRCY"), Command::sitePrcy},
        {QStringLiteral("sbPRCYProjectUpdateClick"), Command::projectPrcy},
        {QStringLiteral("sbPageCheckIndexClick"), Command::pageIndex},
        {QStringLiteral("mnCheckLinkAllClick"), Command::allPagesIndex},
        {QStringLiteral("addSiteAnchorsToPagesWithoutAnchors"), Command::addSiteAnchors},
    };
    const auto it = names.constFind(operation);
    if (it == names.constEnd()) return std::nullopt;
    return *it;
}

} // namespace zentaro::app
