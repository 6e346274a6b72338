// The main window: builds the frame, composes the panes, runs the commands they ask for and the
// start and closing sequences.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include <QMainWindow>

#include "app/command.h"
#include "exchange/list_import.h"

namespace zentaro {
class UserInterface;
}
namespace zentaro::db {
class Database;
class RecordRules;
class Session;
} // namespace zentaro::db
namespace zentaro::web {
class PageFetcher;
class RunPanel;
} // namespace zentaro::web

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTextBrowser;

namespace zentaro::app {

class AccountsPane;
class StderrUi;
class AppHint;
class CategoriesPane;
class LinksPane;
class ProjectsPane;
class ReportPane;
class SettingsPane;
class SitesPane;

inline const QString kMainCaption = QStringLiteral("Zentaro - учет внешних ссылок");

// The main window: the frame of page controls, panels and splitters; it composes the panes and runs the
// start and closing sequences of the session.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // programDir is the program folder (with its trailing separator) that holds help/about.htm.
    TMainForm(db::Database& db, db::Session& session, UserInterface& ui, const QString& programDir,
              QWidget* parent = nullptr);
    ~TMainForm() override;

    db::Database& database() { return m_db; }
    db::RecordRules& rules() { return *m_rules; }
    AppHint& appHint() { return *m_appHint; }
    web::PageFetcher& fetcher() { return *m_fetcher; }
    SettingsPane& settings() { return *m_settings; }
    ReportPane& reports() { return *m_reports; }

    // Loads the tables and shows the first page of every page control; called once before the window is
    // shown.
    void FormCreate();

    // Reactions to the user's choice of a tab.
    void pcMainChange();
    void pcTrustChange();

    // Adds a link for the current project on the current site and shows its properties.
    void LinkHere();
    // Runs a web check or list command a pane asks for. The links pane still names its commands; an unknown
    // name is refused with a message.
    void runCommand(Command command);
    void runCommand(const QString& operation);

    // The closing sequence without questions (a signal, the end of the desktop session): open dialogs are
    // dismissed, the operation in hand ends, then everything is stored and the window closes. Returns at
    // once; `closed` is emitted when done.
    void closeWithoutQuestions();
    bool closedForGood() const { return m_closedForGood; }
    // The last resort of a closing that does not end: stores what it can without asking; false when a
    // write failed (said on stderr).
    bool storeAndLeave();
    // Writes what the user typed and has not left yet: the focused edit and any open grid cell editor.
    void commitTypedText();

    // The import dialog; tests answer it. Empty: the real dialog.
    std::function<std::optional<exchange::ImportChoice>(int GlobalCallMode)> runDlgImport;

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildFrame();
    QWidget* buildProjectColumn(QWidget* parent);
    void pcCatChange();
    // The answer of a control whose command the program does not have yet.
    void commandNotAvailable();
    void importList(int GlobalCallMode);
    QString captchaImagePath() const;
    void appHintChanged(const QString& text);
    // A close during a run or import: stop it and close when it has returned.
    void stopRunForClosing();
    void closeAfterRun();

    db::Database& m_db;
    db::Session& m_session;
    UserInterface& m_ui;
    QString m_programDir;
    bool m_closedForGood = false;
    bool m_quietClose = false;
    // A close came while a run or import was going: it was stopped, the window closes once it returned.
    bool m_closeAfterRun = false;
    // Raised at closing: the requests of a run in flight are abandoned and their results dropped.
    std::atomic<bool> m_abandon{false};
    std::unique_ptr<StderrUi> m_stderrUi;
    bool m_running = false;
    bool m_importing = false; // a list import goes (the closing question names it)
    std::unique_ptr<db::RecordRules> m_rules;
    AppHint* m_appHint = nullptr;
    web::PageFetcher* m_fetcher = nullptr;
    std::unique_ptr<web::RunPanel> m_runPanel;

    QTabWidget* m_pcMain = nullptr;
    QTabWidget* m_pcTrust = nullptr;
    QTabWidget* m_pcProject = nullptr;
    QTabWidget* m_pcCat = nullptr;
    QTabWidget* m_pcLink = nullptr;
    QTabWidget* m_pcTSite = nullptr;
    QLabel* m_pCat2 = nullptr;
    QLabel* m_psbText = nullptr;
    QPushButton* m_bUStop = nullptr;
    QProgressBar* m_pb = nullptr;
    QTextBrowser* m_wb = nullptr;
    QGroupBox* m_groupBox7 = nullptr;
    QGroupBox* m_gbImport = nullptr;
    // The panes: each builds its part of the window and drives it; the window wires them together.
    ProjectsPane* m_projects = nullptr;
    CategoriesPane* m_categories = nullptr;
    AccountsPane* m_accounts = nullptr;
    LinksPane* m_links = nullptr;
    SitesPane* m_sites = nullptr;
    SettingsPane* m_settings = nullptr;
    ReportPane* m_reports = nullptr;
};

} // namespace zentaro::app
