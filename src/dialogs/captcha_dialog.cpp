// The captcha dialog an index check opens when the search engine asks for one.
#include "dialogs/captcha_dialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace zentaro::dialogs {

TfmCaptcha::TfmCaptcha(int kind, const QString& imageFile, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fmCaptcha"));
    setWindowTitle(QStringLiteral("Каптча"));
    setFixedSize(270, 250);
    auto* layout = new QVBoxLayout(this);
    m_img = new QLabel(this);
    m_img->setObjectName(QStringLiteral("img"));
    m_img->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_img, 1);
    auto* box = new QGroupBox(QStringLiteral("Введите текст с картинки: "), this);
    box->setObjectName(QStringLiteral("GroupBox1"));
    auto* bl = new QVBoxLayout(box);
    m_eText = new QLineEdit(box);
    m_eText->setObjectName(QStringLiteral("eText"));
    bl->addWidget(m_eText);
    layout->addWidget(box);
    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("bOK"));
    auto* cancel =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Отмена"), this);
    cancel->setObjectName(QStringLiteral("bCancel"));
    for (QPushButton* b : {ok, cancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    buttons->addWidget(ok);
    buttons->addStretch();
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &TfmCaptcha::bOKClick);
    connect(cancel, &QPushButton::clicked, this, &TfmCaptcha::bCancelClick);
    connect(m_eText, &QLineEdit::returnPressed, this, &TfmCaptcha::bOKClick);
    if (kind == 1) {
        setWindowTitle(QStringLiteral("Каптча Яндекса"));
        // The image as the service sent it, in whatever format Qt reads (told by its content); a reply that
        // is no picture shows nothing.
        QImageReader reader(imageFile);
        reader.setDecideFormatFromContent(true);
        reader.setAllocationLimit(64);
        const QImage image = reader.read();
        if (!image.isNull())
            m_img->setPixmap(QPixmap::fromImage(image.scaled(250, 150, Qt::KeepAspectRatio)));
    }
}

void TfmCaptcha::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_eText->setFocus();
}

void TfmCaptcha::keyPressEvent(QKeyEvent* event) {
    // Enter and Esc of the dialog as a whole do nothing; Enter in the answer box is OK.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfmCaptcha::bOKClick() {
    m_result = m_eText->text();
    accept();
}

void TfmCaptcha::bCancelClick() {
    m_cancelled = true;
    reject();
}

} // namespace zentaro::dialogs
