#pragma once

#include <deque>

#include <QString>
#include <QStringList>

#include "util/user_interface.h"

namespace zentaro::test {

// Records every message and question; answers questions from a queue (No when it runs dry).
class ScriptedUi final : public UserInterface {
public:
    struct Shown {
        QString kind; // "message", "error" or "question"
        QString text;
        QString caption;
    };

    void showMessage(const QString& text, const QString& caption) override;
    void showError(const QString& text, const QString& caption) override;
    bool askYesNo(const QString& text, const QString& caption) override;

    bool inputQuery(const QString& caption, const QString& prompt, QString& value) override;
    // Answered from the same queue as the input dialog.
    bool chooseOpenFile(const QString& preset, QString& fileName) override;
    bool chooseFolder(const QString& startDir, QString& folder) override;
    bool chooseSaveFile(const QString& preset, QString& fileName) override;
    // Answered from its own queue: a text, or a cancel; a dry queue closes the dialog by its frame.
    QString ShowCaptcha(const QString& imageFile, bool& cancelled) override;
    void answerCaptcha(const QString& text) { m_captcha.push_back({text, false}); }
    void cancelCaptcha() { m_captcha.push_back({QString(), true}); }
    // The image files the captcha dialog was shown, with their bytes at that moment.
    std::vector<QByteArray> captchaImages;

    void answer(bool yes) { m_answers.push_back(yes); }
    // The next input dialog is confirmed with the text; with no text queued it is cancelled.
    void type(const QString& text) { m_inputs.push_back(text); }
    const std::vector<Shown>& shown() const { return m_shown; }
    QStringList texts() const;
    void clear() { m_shown.clear(); }

private:
    std::vector<Shown> m_shown;
    std::deque<bool> m_answers;
    std::deque<QString> m_inputs;
    std::deque<std::pair<QString, bool>> m_captcha;
};

} // namespace zentaro::test
