// The evidence behind a link page's verdict, for its properties: the last check that found the links beside
// the first that missed them, what changed, and the pages as they were, opened in the browser.
#pragma once

#include <QWidget>

#include "reports/claim.h"

class QLabel;
class QPushButton;
class QTextBrowser;

namespace zentaro::db {
class Database;
}

namespace zentaro::widgets {

class EvidenceView : public QWidget {
    Q_OBJECT
public:
    explicit EvidenceView(QWidget* parent = nullptr);
    // Shows what the history holds of the link page (tbLink's engine row; -1 shows nothing).
    void showLink(const db::Database& db, int linkRow);
    // Writes the kept page (as found, or as first missing) to a temporary file with its scripts taken out;
    // the file's name, empty when there is none. openSnapshot also opens it in the browser.
    QString writeSnapshot(bool found) const;
    void openSnapshot(bool found) const;

private:
    const db::Database* m_db = nullptr;
    int m_id = 0;
    QTextBrowser* m_found;
    QTextBrowser* m_missing;
    QLabel* m_changes;
    QPushButton* m_openFound;
    QPushButton* m_openMissing;
};

// The evidence of one check as HTML for a text browser.
QString evidenceHtml(const std::optional<db::EvidenceRow>& row);

} // namespace zentaro::widgets
