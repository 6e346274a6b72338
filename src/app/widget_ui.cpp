// The user-interface port for the window (message boxes) and for runs nobody answers (stderr).
#include "app/widget_ui.h"

#include <cstdio>

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QTranslator>

#include "dialogs/captcha_dialog.h"

namespace zentaro::app {

bool installQtTranslations() {
    static QTranslator translator;
    if (!translator.isEmpty()) return true;
    if (!translator.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

namespace {

// A box shown during a long operation gets the normal cursor while it is open.
class NormalCursor {
public:
    NormalCursor() : m_active(QApplication::overrideCursor() != nullptr) {
        if (m_active) QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~NormalCursor() {
        if (m_active) QApplication::restoreOverrideCursor();
    }
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;

private:
    bool m_active;
};

// A short text makes a narrow box whose caption the window manager cuts ("Инф…ация"): the box is made wide
// enough for its caption and the title bar's buttons.
void fitCaption(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    const int width = box.fontMetrics().horizontalAdvance(box.windowTitle()) * 3 / 2 + 140;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

} // namespace

void WidgetUi::showMessage(const QString& text, const QString& caption) {
    NormalCursor normal;
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, m_owner);
    fitCaption(box);
    box.exec();
}

void WidgetUi::showError(const QString& text, const QString& caption) {
    NormalCursor normal;
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, m_owner);
    fitCaption(box);
    box.exec();
}

bool WidgetUi::askYesNo(const QString& text, const QString& caption) {
    NormalCursor normal;
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, m_owner);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    fitCaption(box);
    return box.exec() == QMessageBox::Yes;
}

bool WidgetUi::inputQuery(const QString& caption, const QString& prompt, QString& value) {
    bool ok = false;
    const QString text = QInputDialog::getText(m_owner, caption, prompt, QLineEdit::Normal, value, &ok);
    if (ok) value = text;
    return ok;
}

bool WidgetUi::chooseOpenFile(const QString& preset, QString& fileName) {
    QFileDialog dialog(m_owner);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.selectFile(preset);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    fileName = dialog.selectedFiles().first();
    return true;
}

QString WidgetUi::ShowCaptcha(const QString& imageFile, bool& cancelled) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    dialogs::TfmCaptcha dialog(1, imageFile, m_owner);
    QApplication::restoreOverrideCursor();
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    dialog.exec();
    QApplication::restoreOverrideCursor();
    cancelled = dialog.cancelled();
    return dialog.FormRunResultS();
}

bool WidgetUi::chooseSaveFile(const QString& preset, QString& fileName) {
    const QString chosen = QFileDialog::getSaveFileName(m_owner, QString(), preset);
    if (chosen.isEmpty()) return false;
    fileName = chosen;
    return true;
}

bool WidgetUi::chooseFolder(const QString& startDir, QString& folder) {
    const QString chosen = QFileDialog::getExistingDirectory(m_owner, QString(), startDir);
    if (chosen.isEmpty()) return false;
    folder = chosen;
    return true;
}

namespace {

void toStderr(const QString& caption, const QString& text) {
    std::fprintf(stderr, "zentaro: %s: %s\n", caption.toLocal8Bit().constData(),
                 text.toLocal8Bit().constData());
}

} // namespace

void StderrUi::showMessage(const QString& text, const QString& caption) {
    toStderr(caption, text);
}

void StderrUi::showError(const QString& text, const QString& caption) {
    toStderr(caption, text);
}

bool StderrUi::askYesNo(const QString& text, const QString& caption) {
    toStderr(caption, text + QStringLiteral(" — Нет"));
    return false;
}

} // namespace zentaro::app
