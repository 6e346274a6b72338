// The claim for lost links, shown before it is printed, saved as PDF or copied for an exchange's support
// form.
#pragma once

#include <vector>

#include <QDialog>

#include "reports/claim.h"

class QTextBrowser;

namespace zentaro {
class UserInterface;
}

namespace zentaro::dialogs {

class ClaimDialog : public QDialog {
    Q_OBJECT
public:
    ClaimDialog(std::vector<reports::ClaimLink> links, UserInterface& ui, QWidget* parent = nullptr);

    const QString& text() const { return m_text; }
    void bCopyClick();
    // Writes the claim as PDF; false when it could not be written.
    bool saveAsPdf(const QString& fileName) const;
    void bPdfClick();
    void bPrintClick();

private:
    UserInterface& m_ui;
    QString m_text;
    QString m_html;
    QTextBrowser* m_view;
};

} // namespace zentaro::dialogs
