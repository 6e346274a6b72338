// The settings tab: reserve copies and restore, the daily check, and the remembered window layout.
#pragma once

#include <optional>

#include <QObject>

#include "widgets/pane_kit.h"
#include "db/reserve_copy.h"
#include "db/settings.h"
#include "util/check_timer.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QMainWindow;
class QSpinBox;

namespace zentaro::app {

// The settings tab's words when the daily check cannot be switched on: the reason in Russian and the cron
// line that does the same.
QString timerUnavailableText(const QString& why, int hour, const QString& program);

// The settings tab: the reserve-copy group with its options, copy, folder and restore buttons, and the
// database group; and the remembered layout of the whole window (sizes, panels, grid columns, options).
class SettingsPane : public QObject {
    Q_OBJECT
public:
    SettingsPane(const PaneContext& ctx, QWidget* page, QString baseDir);

    db::ReserveCopyState& copyState() { return m_copy; }
    QGroupBox* groupBox7() const { return m_groupBox7; }
    QGroupBox* gbImport() const { return m_gbImport; }

    // The remembered options of the window, read and applied through the controls' object names.
    db::OptionAccess optionAccess(QMainWindow* window);

    void SpeedButton44Click();
    // The tables as text into the data folder's "export" folder, and back (all seven or none).
    void bExportAllTablesClick();
    void bImportAllTablesClick();
    // The export at closing when "Экспорт перед выходом" is checked; a failure is passed over.
    void exportAtClosing();
    QString exportFolder() const;
    void spRCopyDirOpenClick();
    void bRestoreClick();
    // The copy at closing: made when due or asked for, silently unless it fails.
    void runAtClosing();
    // The closing steps above ask and report through this instead (a closing by signal); none: the window's.
    void setClosingUi(UserInterface* ui) { m_closingUi = ui; }

    // The day the program takes as today; the calendar's when not set (tests set it).
    QDate today;
    QDate day() const { return today.isValid() ? today : QDate::currentDate(); }

    // The daily check of the links through the systemd user timer: turned on or off by the box, at the hour
    // of the spin box; the state line says what systemd says (asked whenever the tab is shown).
    void cbAutoCheckClick(bool on);
    void seAutoCheckHourChange();
    void showAutoCheckState();
    // Tests put the units and the stand-in systemctl elsewhere.
    void setCheckTimer(const CheckTimer& timer) { m_timer = timer; }

signals:
    // The tables were replaced by a restore.
    void restored();

private:
    void showCopyState();
    void buildAutoCheck(QWidget* page);
    CheckTimer& checkTimer();
    int autoCheckHour() const;

    UserInterface& closingUi() const { return m_closingUi ? *m_closingUi : m_ctx.ui; }

    PaneContext m_ctx;
    UserInterface* m_closingUi = nullptr;
    QString m_baseDir;
    db::ReserveCopyState m_copy;
    QGroupBox* m_groupBox7 = nullptr;
    QGroupBox* m_gbImport = nullptr;
    QCheckBox* m_cbRCopy = nullptr;
    QSpinBox* m_seRCopy = nullptr;
    QCheckBox* m_cbAllExport = nullptr;
    QGroupBox* m_gbAutoCheck = nullptr;
    QCheckBox* m_cbAutoCheck = nullptr;
    QSpinBox* m_seAutoCheckHour = nullptr;
    QLabel* m_lAutoCheckState = nullptr;
    std::optional<CheckTimer> m_timer;
};

} // namespace zentaro::app
