// The commands the panes ask the main window to run: web checks, site metrics and list exchange.
#pragma once

#include <optional>

#include <QString>

namespace zentaro::app {

// The web checks and list commands the panes ask the window to run.
enum class Command {
    checkAllPageLink,
    checkExtLinksAll,
    checkExtLinksNew,
    updateSitePrcyAll,
    updateSitePrcyNew,
    exportLinks, // N18Click
    exportSites, // N19Click
    importLinks,
    importSites,
    checkPageLink,
    extLinksOfPage,
    linkPrcy,
    sitePrcy,
    projectPrcy,
    pageIndex,
    allPagesIndex,
    addSiteAnchors,
};

// The command a pane's operation name stands for; nothing for a name no command has.
std::optional<Command> commandNamed(const QString& operation);

} // namespace zentaro::app
