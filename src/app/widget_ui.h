// The user-interface port for the window (message boxes) and for runs nobody answers (stderr).
#pragma once

#include "util/user_interface.h"

class QWidget;

namespace zentaro::app {

// Loads Qt's own Russian translations (standard buttons, dialogs); false when they are not installed.
bool installQtTranslations();

// Message boxes of the main window.
class WidgetUi final : public UserInterface {
public:
    explicit WidgetUi(QWidget* owner = nullptr) : m_owner(owner) {}
    void setOwner(QWidget* owner) { m_owner = owner; }
    void showMessage(const QString& text, const QString& caption) override;
    void showError(const QString& text, const QString& caption) override;
    bool askYesNo(const QString& text, const QString& caption) override;
    bool inputQuery(const QString& caption, const QString& prompt, QString& value) override;
    bool chooseOpenFile(const QString& preset, QString& fileName) override;
    bool chooseFolder(const QString& startDir, QString& folder) override;
    bool chooseSaveFile(const QString& preset, QString& fileName) override;
    QString ShowCaptcha(const QString& imageFile, bool& cancelled) override;

private:
    QWidget* m_owner;
};

// The voice of a closing nobody watches (a signal, the end of the desktop session): no box opens, every
// question is answered No, every choice cancelled, and what would be shown goes to stderr.
class StderrUi final : public NoAnswerUi {
public:
    void showMessage(const QString& text, const QString& caption) override;
    void showError(const QString& text, const QString& caption) override;
    bool askYesNo(const QString& text, const QString& caption) override;
};

} // namespace zentaro::app
