#include "support/scripted_ui.h"

#include <QFile>

namespace zentaro::test {

void ScriptedUi::showMessage(const QString& text, const QString& caption) {
    m_shown.push_back({QStringLiteral("message"), text, caption});
}

void ScriptedUi::showError(const QString& text, const QString& caption) {
    m_shown.push_back({QStringLiteral("error"), text, caption});
}

bool ScriptedUi::askYesNo(const QString& text, const QString& caption) {
    m_shown.push_back({QStringLiteral("question"), text, caption});
    if (m_answers.empty()) return false;
    const bool a = m_answers.front();
    m_answers.pop_front();
    return a;
}

bool ScriptedUi::inputQuery(const QString& caption, const QString& prompt, QString& value) {
    m_shown.push_back({QStringLiteral("input"), prompt + u'|' + value, caption});
    if (m_inputs.empty()) return false;
    value = m_inputs.front();
    m_inputs.pop_front();
    return true;
}

bool ScriptedUi::chooseOpenFile(const QString& preset, QString& fileName) {
    return inputQuery(QStringLiteral("open file"), preset, fileName);
}

bool ScriptedUi::chooseSaveFile(const QString& preset, QString& fileName) {
    return inputQuery(QStringLiteral("save file"), preset, fileName);
}

bool ScriptedUi::chooseFolder(const QString& startDir, QString& folder) {
    return inputQuery(QStringLiteral("choose folder"), startDir, folder);
}

QString ScriptedUi::ShowCaptcha(const QString& imageFile, bool& cancelled) {
    QFile f(imageFile);
    captchaImages.push_back(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
    m_shown.push_back({QStringLiteral("captcha"), imageFile, QStringLiteral("Каптча Яндекса")});
    if (m_captcha.empty()) return {};
    const auto [text, cancel] = m_captcha.front();
    m_captcha.pop_front();
    cancelled = cancel;
    return text;
}

QStringList ScriptedUi::texts() const {
    QStringList out;
    for (const Shown& s : m_shown)
        out << s.text;
    return out;
}

} // namespace zentaro::test
