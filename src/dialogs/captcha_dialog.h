// The captcha dialog an index check opens when the search engine asks for one.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

namespace zentaro::dialogs {

// The captcha dialog: the image, "Введите текст с картинки: " with the answer box, OK and "Отмена".
// Enter in the answer box is OK; "Отмена" gives up the check; closing by the frame is neither.
class TfmCaptcha : public QDialog {
    Q_OBJECT
public:
    // kind 1 is the Yandex captcha: its caption and the image file are shown.
    TfmCaptcha(int kind, const QString& imageFile, QWidget* parent = nullptr);

    // The typed answer after OK; empty otherwise.
    const QString& FormRunResultS() const { return m_result; }
    bool cancelled() const { return m_cancelled; }

    void bOKClick();
    void bCancelClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_img;
    QLineEdit* m_eText;
    QString m_result;
    bool m_cancelled = false;
};

} // namespace zentaro::dialogs
