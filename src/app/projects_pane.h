// The projects pane: the project list and the properties of the current project.
#pragma once

#include <QObject>

#include "widgets/pane_kit.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace zentaro::app {

// The projects list (tsProject) and the properties of the current project (tsPInfo).
class ProjectsPane : public QObject {
    Q_OBJECT
public:
    ProjectsPane(const PaneContext& ctx, QWidget* listPage, QWidget* infoPage);

    DataGrid* grid() const { return m_grid; }

    void sbOpenProjectSiteClick();
    // Asks the toolbar services for the project site's TIC and PR.
    void sbPRCYProjectUpdateClick();

signals:
    void prcyProjectUpdateRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showInfo();

    PaneContext m_ctx;
    DataGrid* m_grid = nullptr;
    QLabel* m_ppInfo = nullptr;
    QLineEdit* m_site = nullptr;
};

} // namespace zentaro::app
