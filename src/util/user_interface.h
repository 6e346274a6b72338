// How core talks to the user: messages and questions, answered by a window, a script or nobody.
#pragma once

#include <QString>

namespace zentaro {

// How core talks to the user: the window implements it with message boxes, tests with scripted answers.
class UserInterface {
public:
    virtual ~UserInterface() = default;
    // A modal box with one OK button and no icon.
    virtual void showMessage(const QString& text, const QString& caption) = 0;
    // A modal box with an error icon and one OK button.
    virtual void showError(const QString& text, const QString& caption) = 0;
    // A Yes/No question; true for Yes.
    virtual bool askYesNo(const QString& text, const QString& caption) = 0;
    // A one-line input dialog with OK and Cancel; value holds the initial text and receives the answer.
    virtual bool inputQuery(const QString& caption, const QString& prompt, QString& value) = 0;
    // The open-file dialog with the file name field preset; true with the chosen full file name.
    virtual bool chooseOpenFile(const QString& preset, QString& fileName) = 0;
    // The folder dialog opened at startDir; true with the chosen folder.
    virtual bool chooseFolder(const QString& startDir, QString& folder) = 0;
    // The save-file dialog proposing the file name; true with the chosen full file name.
    virtual bool chooseSaveFile(const QString& preset, QString& fileName) = 0;
    // The captcha dialog showing the image file: the text the user typed, or an empty text; cancelled is set
    // when the user gave up with "Отмена" (closing the window by its frame is no cancel).
    virtual QString ShowCaptcha(const QString& imageFile, bool& cancelled) = 0;
};

// The voice of a run nobody can answer (the command line, a closing by signal): every question is answered
// No and every choice cancelled; what is said is left to the subclass.
class NoAnswerUi : public UserInterface {
public:
    bool askYesNo(const QString&, const QString&) override { return false; }
    bool inputQuery(const QString&, const QString&, QString&) override { return false; }
    bool chooseOpenFile(const QString&, QString&) override { return false; }
    bool chooseFolder(const QString&, QString&) override { return false; }
    bool chooseSaveFile(const QString&, QString&) override { return false; }
    QString ShowCaptcha(const QString&, bool& cancelled) override {
        cancelled = true;
        return {};
    }
};

// The information box of the program: caption "Информация", one OK button.
void Msg(UserInterface& ui, const QString& S);

} // namespace zentaro
