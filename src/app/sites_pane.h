// The trust-sites pane: the site list with its notes, its menu and the properties of the current site.
#pragma once

#include <QObject>

#include "app/command.h"
#include "widgets/pane_kit.h"

class QCheckBox;
class QFrame;
class QMenu;
class QSplitter;
class QToolButton;

namespace zentaro::app {

// The trust-sites pane: toolbar, grid and notes of the site list (tsTSiteList) and the properties of the
// current site (tsTSiteMore).
class SitesPane : public QObject {
    Q_OBJECT
public:
    SitesPane(const PaneContext& ctx, QWidget* listPage, QWidget* infoPage);

    DataGrid* grid() const { return m_grid; }
    QMenu* popup() const { return m_pumSite; }

    void cbSiteCatClick();
    void sbShowSiteClick();
    void SpeedButton5Click();
    void mnOpenTrustSiteClick();
    void sbRegURLClick();
    void pHelpShowClick();

signals:
    void linkHereRequested();
    // Site metrics and list exchange started from the toolbar and the menu.
    void commandRequested(Command command);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildList(QWidget* page);
    void buildInfo(QWidget* page);
    void buildMenu();
    void showSiteCat();

    PaneContext m_ctx;
    DataGrid* m_grid = nullptr;
    QCheckBox* m_cbSiteCat = nullptr;
    QToolButton* m_sbShowSite = nullptr;
    QToolButton* m_menuButton = nullptr;
    QMenu* m_pumSite = nullptr;
    QFrame* m_pHelpShow = nullptr;
    QSplitter* m_splitter3 = nullptr;
};

} // namespace zentaro::app
