// The settings tab: reserve copies and restore, the daily check, and the remembered window layout.
#include "app/settings_pane.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSpinBox>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "widgets/data_grid.h"
#include "widgets/hints.h"
#include "widgets/icons.h"
#include "app/split_panel.h"
#include "app/window_place.h"
#include "cli/check_report.h"
#include "db/database.h"
#include "db/table_file.h"
#include "db/table_text.h"
#include "util/shell.h"
#include "util/user_interface.h"

namespace zentaro::app {

namespace {

QToolButton* toolButton(QWidget* parent, const QString& name, const QString& hint, const char* icon,
                        QStyle::StandardPixmap fallback) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setAutoRaise(true);
    b->setIcon(themeIcon(icon, fallback));
    setHint(b, hint);
    return b;
}

// The window's size along one side, kept within the screen it opens on (a damaged setting must not ask the
// display for a window of millions of pixels).
int onScreen(QWidget* window, int size, bool height) {
    const QSize room = windowRoom(window);
    return std::clamp(size, 200, std::max(200, height ? room.height() : room.width()));
}

} // namespace

SettingsPane::SettingsPane(const PaneContext& ctx, QWidget* page, QString baseDir)
    : QObject(page), m_ctx(ctx), m_baseDir(std::move(baseDir)) {
    auto* layout = new QVBoxLayout(page);
    m_groupBox7 = new QGroupBox(QStringLiteral("Резервная копия базы: "), page);
    m_groupBox7->setObjectName(QStringLiteral("GroupBox7"));
    m_groupBox7->setMinimumHeight(80);
    auto* row = new QHBoxLayout(m_groupBox7);
    m_cbRCopy = new QCheckBox(QStringLiteral("Делать копию через:"), m_groupBox7);
    m_cbRCopy->setObjectName(QStringLiteral("cbRCopy"));
    setHint(m_cbRCopy, QStringLiteral("Создание резервной копии базы данных"));
    m_seRCopy = new QSpinBox(m_groupBox7);
    m_seRCopy->setObjectName(QStringLiteral("seRCopy"));
    m_seRCopy->setRange(1, 100);
    auto* days = new QLabel(QStringLiteral("дня"), m_groupBox7);
    QToolButton* now = toolButton(m_groupBox7, QStringLiteral("SpeedButton44"),
                                  QStringLiteral("Создать резервную копию сейчас!"), "document-save",
                                  QStyle::SP_DialogSaveButton);
    QToolButton* open =
        toolButton(m_groupBox7, QStringLiteral("spRCopyDirOpen"), QStringLiteral("Открыть папку с копиями"),
                   "folder-open", QStyle::SP_DirOpenIcon);
    auto* restore = new QPushButton(QStringLiteral("Восстановить…"), m_groupBox7);
    restore->setObjectName(QStringLiteral("bRestore"));
    setHint(restore, QStringLiteral("Восстановить базу из резервной копии"));
    for (QWidget* w : std::initializer_list<QWidget*>{m_cbRCopy, m_seRCopy, days, now, open, restore})
        row->addWidget(w);
    row->addStretch();
    connect(m_cbRCopy, &QCheckBox::toggled, this, [this](bool on) { m_copy.enabled = on; });
    connect(m_seRCopy, &QSpinBox::valueChanged, this, [this](int v) { m_copy.intervalDays = v; });
    connect(now, &QToolButton::clicked, this, &SettingsPane::SpeedButton44Click);
    connect(open, &QToolButton::clicked, this, &SettingsPane::spRCopyDirOpenClick);
    connect(restore, &QPushButton::clicked, this, &SettingsPane::bRestoreClick);

    m_gbImport = new QGroupBox(QStringLiteral("База данных: "), page);
    m_gbImport->setObjectName(QStringLiteral("gbImport"));
    m_gbImport->setMinimumHeight(80);
    auto* ib = new QHBoxLayout(m_gbImport);
    m_cbAllExport = new QCheckBox(QStringLiteral("Экспорт перед выходом"), m_gbImport);
    m_cbAllExport->setObjectName(QStringLiteral("cbAllExport"));
    setHint(m_cbAllExport,
            QStringLiteral("Экспортировать все таблицы в текстовые файлы каждый раз перед выходом"));
    auto* exportAll = new QPushButton(QStringLiteral("Экспорт всех таблиц"), m_gbImport);
    exportAll->setObjectName(QStringLiteral("bExportAllTables"));
    auto* importAll = new QPushButton(QStringLiteral("Импорт всех таблиц"), m_gbImport);
    importAll->setObjectName(QStringLiteral("bImportAllTables"));
    connect(exportAll, &QPushButton::clicked, this, &SettingsPane::bExportAllTablesClick);
    connect(importAll, &QPushButton::clicked, this, &SettingsPane::bImportAllTablesClick);
    ib->addWidget(exportAll);
    ib->addWidget(importAll);
    ib->addWidget(m_cbAllExport);
    ib->addStretch();
    m_gbImport->hide();
    layout->addWidget(m_groupBox7);
    layout->addWidget(m_gbImport);
    buildAutoCheck(page);
    layout->addWidget(m_gbAutoCheck);
    layout->addStretch();
    showCopyState();
}

void SettingsPane::showCopyState() {
    m_cbRCopy->setChecked(m_copy.enabled);
    m_seRCopy->setValue(m_copy.intervalDays);
}

db::OptionAccess SettingsPane::optionAccess(QMainWindow* window) {
    // A key names a control (and for grids a column): "grdLink-3" is column 3 of grdLink.
    auto column = [window](const QString& key, int* index) -> QHeaderView* {
        const qsizetype dash = key.lastIndexOf(u'-');
        auto* grid = window->findChild<DataGrid*>(key.left(dash));
        if (!grid || dash < 0) return nullptr;
        *index = key.mid(dash + 1).toInt();
        return grid->horizontalHeader();
    };
    auto widget = [window](const QString& key) {
        return window->findChild<QWidget*>(key.section(u'.', 0, 0));
    };
    db::OptionAccess a;
    a.intValue = [=, this](const QString& key) -> int {
        // The size of the normal window, not of the maximised one.
        const bool full = window->isMaximized() || window->isFullScreen();
        if (key == QLatin1String("Height"))
            return full ? window->normalGeometry().height() : window->height();
        if (key == QLatin1String("Width")) return full ? window->normalGeometry().width() : window->width();
        if (key == QLatin1String("cbAllExport.Checked")) return m_cbAllExport->isChecked() ? 1 : 0;
        if (key == QLatin1String("cbRCopy.Checked")) return m_copy.enabled ? 1 : 0;
        if (key == QLatin1String("seRCopy.Value")) return m_copy.intervalDays;
        if (key == QLatin1String("gbLinkFilter.Visible")) {
            QWidget* w = widget(key);
            return w && !w->isHidden() ? 1 : 0;
        }
        if (key.endsWith(QLatin1String(".Width")) || key.endsWith(QLatin1String(".Height"))) {
            SplitPanel* panel = SplitPanel::of(widget(key));
            if (!panel) return -1;
            // The category panel takes the height a maximised window adds; it is kept as it stands in the
            // normal window, which a maximised start lays out first, or it would grow at every start.
            if (full && key == QLatin1String("pCat.Height"))
                return std::max(30, panel->size() - (window->height() - window->normalGeometry().height()));
            return panel->size();
        }
        int i = 0;
        QHeaderView* h = column(key, &i);
        if (!h) return -1;
        return h->isSectionHidden(i) ? -1 : h->sectionSize(i);
    };
    a.textValue = [=, this](const QString& key) -> QString {
        if (key == QLatin1String("LastRCopyDate")) return m_copy.lastText();
        // "cbRep.Text" and the report's period and project choice: the text of the combo box of that name.
        auto* rep = window->findChild<QComboBox*>(key.section(u'.', 0, 0));
        return rep ? rep->currentText() : QString();
    };
    a.applyInt = [=, this](const QString& key, int v) {
        if (key == QLatin1String("Height")) {
            window->resize(window->width(), onScreen(window, v, true));
        } else if (key == QLatin1String("Width")) {
            window->resize(onScreen(window, v, false), window->height());
        } else if (key == QLatin1String("cbAllExport.Checked")) {
            m_cbAllExport->setChecked(v == 1);
        } else if (key == QLatin1String("cbRCopy.Checked")) {
            m_copy.enabled = v != 0;
            showCopyState();
        } else if (key == QLatin1String("seRCopy.Value")) {
            m_copy.intervalDays = std::clamp(v, 1, 100);
            showCopyState();
        } else if (key == QLatin1String("gbLinkFilter.Visible")) {
            if (QWidget* w = widget(key)) w->setVisible(v != 0);
        } else if (key.endsWith(QLatin1String(".Width")) || key.endsWith(QLatin1String(".Height"))) {
            if (SplitPanel* panel = SplitPanel::of(widget(key))) panel->setSize(v);
        } else {
            int i = 0;
            if (QHeaderView* h = column(key, &i); h && i < h->count()) {
                const auto* grid = qobject_cast<const DataGrid*>(h->parentWidget());
                h->resizeSection(i, std::max(v, grid ? grid->leastWidth(i) : 0));
            }
        }
    };
    a.applyText = [=, this](const QString& key, const QString& v) {
        if (key == QLatin1String("LastRCopyDate")) {
            m_copy.setLastText(v, day());
        } else if (auto* rep = window->findChild<QComboBox*>(key.section(u'.', 0, 0))) {
            rep->setCurrentText(v);
        }
    };
    return a;
}

QString SettingsPane::exportFolder() const {
    return m_baseDir + QStringLiteral("export/");
}

void SettingsPane::bExportAllTablesClick() {
    QString error;
    QStringList unreadable;
    if (!db::AllTbExport(m_ctx.db, exportFolder(), m_ctx.ui, &error, &unreadable)) {
        Msg(m_ctx.ui, QStringLiteral("Ошибка экспорта!\r\n") + error);
        return;
    }
    Msg(m_ctx.ui,
        QStringLiteral("Экспорт произведен: \"%1\".").arg(QDir::toNativeSeparators(exportFolder())));
    if (!unreadable.isEmpty())
        Msg(m_ctx.ui,
            QStringLiteral("Записи со знаком \"|\" или переводом строки в тексте не прочитаются при "
                           "импорте: ") +
                unreadable.mid(0, 20).join(QStringLiteral(", ")) +
                (unreadable.size() > 20 ? QStringLiteral(" и другие") : QString()));
}

void SettingsPane::bImportAllTablesClick() {
    if (m_ctx.db.refuseDuringRun()) return;
    QString error;
    if (db::AllTbImport(m_ctx.db, exportFolder(), &error)) {
        emit restored();
        Msg(m_ctx.ui, QStringLiteral("Импорт из текстовых файлов произведен\r\nИсточник \"%1\".")
                          .arg(QDir::toNativeSeparators(exportFolder())));
    } else {
        Msg(m_ctx.ui, error.isEmpty() ? QStringLiteral("Ошибка импорта!\r\nНичего не изменено.")
                                      : QStringLiteral("Ошибка импорта!\r\n") + error +
                                            QStringLiteral("\r\nНичего не изменено."));
    }
}

void SettingsPane::exportAtClosing() {
    QString error;
    if (m_cbAllExport->isChecked()) db::AllTbExport(m_ctx.db, exportFolder(), closingUi(), &error);
}

void SettingsPane::SpeedButton44Click() {
    m_ctx.db.StartRCopyNow = true;
    db::RunRCopy(m_ctx.db, m_copy, m_baseDir, m_ctx.ui, day());
}

void SettingsPane::spRCopyDirOpenClick() {
    ShellExec(db::copyRoot(m_baseDir));
}

void SettingsPane::runAtClosing() {
    db::RunRCopy(m_ctx.db, m_copy, m_baseDir, closingUi(), day());
}

void SettingsPane::bRestoreClick() {
    if (m_ctx.db.refuseDuringRun()) return;
    QString folder;
    if (!m_ctx.ui.chooseFolder(db::copyRoot(m_baseDir), folder) || folder.isEmpty()) return;
    folder = QDir(folder).absolutePath();
    const QString shown = QDir::toNativeSeparators(folder);
    QString error;
    db::Database check;
    for (db::Table* t : check.dataTables()) {
        if (!db::TableFile::load(*t, folder + u'/' + db::tableFileName(*t), &error)) {
            m_ctx.ui.showError(
                QStringLiteral("В папке \"%1\" нет целой копии базы: %2.\r\nНичего не изменено.")
                    .arg(shown, error),
                QStringLiteral("Ошибка"));
            return;
        }
    }
    if (!m_ctx.ui.askYesNo(
            QStringLiteral("Все таблицы базы будут заменены копией из папки \"%1\". Текущие "
                           "таблицы сначала будут сохранены в новую резервную копию. Продолжить?")
                .arg(shown),
            QStringLiteral("Восстановление")))
        return;
    // A folder of its own, so that a restore from today's folder never copies over its own source.
    const QString ownFolder =
        db::dayFolderName(day()) + QTime::currentTime().toString(QStringLiteral("-HHmmss"));
    if (m_ctx.db.BaseLoadError) {
        // The data files were not loaded and are not written by the program: they are kept as they are and
        // replaced as files; the next start reads them.
        const QString keep = db::copyRoot(m_baseDir) + u'/' + ownFolder;
        if (!db::restoreFilesAfterLoadFailure(m_baseDir, folder, keep, &error)) {
            m_ctx.ui.showError(error, QStringLiteral("Ошибка"));
            return;
        }
        Msg(m_ctx.ui, QStringLiteral("Таблицы восстановлены из папки \"%1\". Перезапустите программу.\r\n"
                                     "Прежние файлы сохранены в папке: %2")
                          .arg(shown, QDir::toNativeSeparators(keep)));
        return;
    }
    // The current tables first go into a copy of their own, next to the day's copies.
    const bool wasAsked = m_ctx.db.StartRCopyNow;
    m_ctx.db.StartRCopyNow = true;
    const bool wasAuto = m_ctx.db.isAuto;
    m_ctx.db.isAuto = true;
    const db::ReserveCopyState kept = m_copy;
    const db::CopyOutcome safety = db::RunRCopy(m_ctx.db, m_copy, m_baseDir, m_ctx.ui, day(), ownFolder);
    m_copy = kept;
    m_ctx.db.isAuto = wasAuto;
    m_ctx.db.StartRCopyNow = wasAsked;
    if (safety == db::CopyOutcome::Failed) return;
    const QString safetyFolder = db::lastCopyFolder();
    if (!db::restoreFrom(m_ctx.db, folder, &error)) {
        m_ctx.ui.showError(error, QStringLiteral("Ошибка"));
        return;
    }
    QString err;
    if (!m_ctx.db.store.flush(&err)) {
        m_ctx.ui.showError(QStringLiteral("Не удалось сохранить изменения: ") + err,
                           QStringLiteral("Ошибка"));
        return;
    }
    emit restored();
    Msg(m_ctx.ui,
        QStringLiteral("Таблицы восстановлены из папки \"%1\".\r\nПрежние таблицы сохранены в папке: %2")
            .arg(shown, QDir::toNativeSeparators(safetyFolder)));
}

void SettingsPane::buildAutoCheck(QWidget* page) {
    m_gbAutoCheck = new QGroupBox(QStringLiteral("Проверка ссылок: "), page);
    m_gbAutoCheck->setObjectName(QStringLiteral("gbAutoCheck"));
    auto* box = new QVBoxLayout(m_gbAutoCheck);
    auto* row = new QHBoxLayout;
    m_cbAutoCheck =
        new QCheckBox(QStringLiteral("Проверять ссылки автоматически каждый день"), m_gbAutoCheck);
    m_cbAutoCheck->setObjectName(QStringLiteral("cbAutoCheck"));
    setHint(m_cbAutoCheck,
            QStringLiteral("Проверка наличия ссылок по таймеру systemd, с уведомлением о пропавших"));
    auto* at = new QLabel(QStringLiteral("в"), m_gbAutoCheck);
    m_seAutoCheckHour = new QSpinBox(m_gbAutoCheck);
    m_seAutoCheckHour->setObjectName(QStringLiteral("seAutoCheckHour"));
    m_seAutoCheckHour->setRange(0, 23);
    m_seAutoCheckHour->setValue(3);
    auto* hours = new QLabel(QStringLiteral("ч"), m_gbAutoCheck);
    for (QWidget* w : std::initializer_list<QWidget*>{m_cbAutoCheck, at, m_seAutoCheckHour, hours})
        row->addWidget(w);
    row->addStretch();
    m_lAutoCheckState = new QLabel(m_gbAutoCheck);
    m_lAutoCheckState->setObjectName(QStringLiteral("lAutoCheckState"));
    m_lAutoCheckState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->addLayout(row);
    box->addWidget(m_lAutoCheckState);
    connect(m_cbAutoCheck, &QCheckBox::clicked, this, &SettingsPane::cbAutoCheckClick);
    // The hour is sent to systemd once the user stops turning the spin box.
    auto* settle = new QTimer(this);
    settle->setSingleShot(true);
    settle->setInterval(800);
    connect(settle, &QTimer::timeout, this, &SettingsPane::seAutoCheckHourChange);
    connect(m_seAutoCheckHour, &QSpinBox::valueChanged, settle, [settle] { settle->start(); });
    // systemd is asked only when the tab is looked at, not at every start.
    class ShowWatch final : public QObject {
    public:
        explicit ShowWatch(SettingsPane* pane) : QObject(pane), m_pane(pane) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Show) m_pane->showAutoCheckState();
            return false;
        }

    private:
        SettingsPane* m_pane;
    };
    m_gbAutoCheck->installEventFilter(new ShowWatch(this));
}

QString timerUnavailableText(const QString& why, int hour, const QString& program) {
    QString reason;
    if (why.contains(QLatin1String("connect to bus"), Qt::CaseInsensitive) ||
        why.contains(QLatin1String("DBUS"), Qt::CaseInsensitive))
        reason = QStringLiteral("нет связи с пользовательским сеансом systemd");
    else if (why.contains(QLatin1String("not found"), Qt::CaseInsensitive) ||
             why.contains(QLatin1String("No such file"), Qt::CaseInsensitive) || why.isEmpty())
        reason = QStringLiteral("программа systemctl не найдена");
    else
        reason = QStringLiteral("systemctl ответил ошибкой");
    return QStringLiteral(
               "Автоматическая проверка недоступна: %1. Вместо нее можно добавить строку в "
               "crontab (crontab -e):\n0 %2 * * * %3 --check links >> $HOME/zentaro-check.log 2>&1")
        .arg(reason)
        .arg(hour)
        .arg(program);
}

CheckTimer& SettingsPane::checkTimer() {
    if (!m_timer) m_timer.emplace(QCoreApplication::applicationFilePath(), CheckTimer::defaultUserUnitDir());
    return *m_timer;
}

int SettingsPane::autoCheckHour() const {
    QString text;
    int hour = -1;
    return db::GetOption(m_ctx.db.tbSets, cli::kHourKey, text, hour) && hour >= 0 && hour <= 23 ? hour : 3;
}

void SettingsPane::showAutoCheckState() {
    const TimerState state = checkTimer().state();
    // The window's note of an overdue check follows what systemd says, also after a change made elsewhere.
    QString text;
    int on = -1;
    if (state.usable &&
        (!db::GetOption(m_ctx.db.tbSets, cli::kTimerKey, text, on) || (on == 1) != state.enabled))
        db::SetOption(m_ctx.db.tbSets, cli::kTimerKey, QString(), state.enabled ? 1 : 0);
    const QSignalBlocker quiet(m_seAutoCheckHour);
    m_seAutoCheckHour->setValue(autoCheckHour());
    m_cbAutoCheck->setEnabled(state.usable);
    m_seAutoCheckHour->setEnabled(state.usable);
    m_cbAutoCheck->setChecked(state.usable && state.enabled);
    m_lAutoCheckState->setText(state.usable ? timerStateText(state)
                                            : timerUnavailableText(state.why, autoCheckHour(),
                                                                   QCoreApplication::applicationFilePath()));
    // What systemctl said word for word, for whoever wants to look further.
    m_lAutoCheckState->setToolTip(state.usable ? QString() : state.why);
}

void SettingsPane::cbAutoCheckClick(bool on) {
    QString error;
    const int hour = m_seAutoCheckHour->value();
    const bool done = on ? checkTimer().enable(hour, &error) : checkTimer().disable(&error);
    if (done) {
        db::SetOption(m_ctx.db.tbSets, cli::kTimerKey, QString(), on ? 1 : 0);
        db::SetOption(m_ctx.db.tbSets, cli::kHourKey, QString(), hour);
    } else {
        m_ctx.ui.showError(QStringLiteral("Не удалось %1 автоматическую проверку: %2")
                               .arg(on ? QStringLiteral("включить") : QStringLiteral("выключить"), error),
                           QStringLiteral("Ошибка"));
    }
    showAutoCheckState();
}

void SettingsPane::seAutoCheckHourChange() {
    if (m_seAutoCheckHour->value() == autoCheckHour()) return;
    if (m_cbAutoCheck->isChecked())
        cbAutoCheckClick(true);
    else
        db::SetOption(m_ctx.db.tbSets, cli::kHourKey, QString(), m_seAutoCheckHour->value());
}

} // namespace zentaro::app
