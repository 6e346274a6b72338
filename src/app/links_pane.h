// The links list and a link page's properties: grids, bound edits, the check bar, history and evidence.
#pragma once

#include <QObject>

#include "widgets/pane_kit.h"
#include "cli/check_report.h"
#include "db/link_removal.h"

class QAction;
class QFileSystemWatcher;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QRadioButton;
class QToolButton;
class QDialog;
class QTreeWidget;

namespace zentaro::widgets {
class EvidenceView;
}

namespace zentaro::app {

class LookupBox;

// The links pane: the filter box, toolbar and grid of link pages (TabSheet3) and the properties of the
// current link with its anchors, article file, account and trust site (tsLinkMore).
class LinksPane : public QObject {
    Q_OBJECT
public:
    LinksPane(const PaneContext& ctx, QWidget* listPage, QWidget* infoPage);

    DataGrid* grid() const { return m_grid; }
    QMenu* popup() const { return m_pumLink; }

    void ShowAccountData();
    void sbLinkOutClick();
    void SpeedButton2Click();
    void SpeedButton10Click();
    void sbArtFNClick();
    void pumLinkPopup();
    // The current link page's check history, newest first, and since when its link is missing.
    void showHistory();
    // A claim for the selected lost links (or the current one), shown to print, save or copy.
    void makeClaim();
    // The evidence of the current link page's last find and first miss, in a window of its own.
    void showEvidence();
    QDialog* evidenceDialog() const { return m_evidenceDialog; }
    void copyToClipboard(QLineEdit* edit);

    // The bar over the grid: what checks since the last start lost, an overdue daily check, a scheduled
    // check that could not run while the window held the data.
    void startWatch(const QString& baseDir);
    void showCheckBar(const cli::WatchNote& note);
    void bCheckBarShowClick();
    void bCheckBarCheckClick();
    void takeSkippedCheck();

    // Several link pages deleted with one question, and the import or deletion taken back as a whole.
    std::vector<int> selectedLinkIds() const;
    void deleteSelectedLinks();
    void undoDelete();
    void offerUndoImport(std::vector<int> ids);
    void undoImport();
    // The count and the summed prices of the pages the list shows, under the grid.
    void showLinkSum();

signals:
    // The account page should be shown (sbShowAccount).
    void showAccountsRequested();
    // Web checks of the current link or of the whole list, started by the toolbar and the menu; the name is
    // the operation's ("UpDateLinkPRCY", "sbPageCheckIndexClick", "sbExtLinksClick", "CheckPageLink",
    // "CheckAllPageLink", "CheckExtLinksAll", "CheckExtLinksNew", "mnCheckLinkAllClick", "ImportLinks",
    // "N18Click").
    void commandRequested(const QString& operation);

private:
    void buildList(QWidget* page);
    void buildInfo(QWidget* page);
    void buildMenu();
    void buildCheckBar(QWidget* page);
    void showMode();
    void showCheckFilter();
    QAction* menuItem(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& key,
                      const QString& operation, const char* icon = nullptr);

    PaneContext m_ctx;
    DataGrid* m_grid = nullptr;
    QGroupBox* m_filterBox = nullptr;
    QRadioButton* m_rbAll = nullptr;
    QRadioButton* m_rbCat = nullptr;
    QRadioButton* m_rbSite = nullptr;
    QMenu* m_pumLink = nullptr;
    QAction* m_fl[3] = {};
    QAction* m_fc[5] = {};
    QLabel* m_lostSince = nullptr;
    QLabel* m_checkFilterText = nullptr;
    QToolButton* m_checkFilterClear = nullptr;
    QToolButton* m_menuButton = nullptr;
    QTreeWidget* m_history = nullptr;
    QDialog* m_evidenceDialog = nullptr; // while the evidence is shown
    QLabel* m_pLinkInfo = nullptr;
    QLineEdit* m_login = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_email = nullptr;
    LookupBox* m_account = nullptr;
    LookupBox* m_site = nullptr;
    QFrame* m_checkBar = nullptr;
    QLabel* m_lCheckBar = nullptr;
    QWidget* m_bCheckBarShow = nullptr;
    QWidget* m_bCheckBarCheck = nullptr;
    cli::WatchNote m_note;
    QString m_baseDir;
    QFileSystemWatcher* m_skipWatch = nullptr;
    QLabel* m_linkSum = nullptr;
    QAction* m_undoImport = nullptr;
    QAction* m_undoDelete = nullptr;
    std::vector<int> m_imported;
    db::RemovedLinks m_removed;
};

} // namespace zentaro::app
