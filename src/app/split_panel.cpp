// Splitter panels whose sizes are remembered in the settings and restored once laid out.
#include "app/split_panel.h"

#include <algorithm>

#include <QEvent>
#include <QSplitter>
#include <QTimer>

namespace zentaro::app {

SplitPanel::SplitPanel(QWidget* panel, std::optional<int> design, int minimum, int neighbourMinimum)
    : QObject(panel), m_splitter(qobject_cast<QSplitter*>(panel->parentWidget())), m_panel(panel),
      m_design(design), m_minimum(minimum), m_neighbourMinimum(neighbourMinimum) {
    setObjectName(QStringLiteral("splitPanel"));
    if (m_splitter) m_splitter->installEventFilter(this);
}

SplitPanel* SplitPanel::of(QWidget* panel) {
    return panel ? panel->findChild<SplitPanel*>(QStringLiteral("splitPanel"), Qt::FindDirectChildrenOnly)
                 : nullptr;
}

int SplitPanel::extent(const QWidget* w) const {
    return !m_splitter || m_splitter->orientation() == Qt::Horizontal ? w->width() : w->height();
}

bool SplitPanel::laidOut() const {
    return m_splitter && m_splitter->isVisible() && extent(m_splitter) > 0;
}

int SplitPanel::size() const {
    if (m_pending) {
        // Not laid out yet: a size that cannot fit even the whole window is not kept.
        const bool fits = *m_pending >= m_minimum && *m_pending <= extent(m_panel->window());
        if (fits || !m_design) return *m_pending;
        return *m_design;
    }
    if (!m_seen && m_design) return *m_design;
    return m_splitter ? m_splitter->sizes().value(m_splitter->indexOf(m_panel)) : extent(m_panel);
}

void SplitPanel::setSize(int size) {
    m_pending = size;
    if (laidOut() && !m_queued) applyPending();
}

bool SplitPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_splitter && (event->type() == QEvent::Show || event->type() == QEvent::Resize) &&
        m_splitter->isVisible() && !m_queued) {
        // The splitter's extent is final only once the layouts have handled what showing it posted.
        m_queued = true;
        QTimer::singleShot(0, this, [this] {
            m_queued = false;
            if (!laidOut()) return;
            m_seen = true;
            applyPending();
        });
    }
    return QObject::eventFilter(watched, event);
}

void SplitPanel::applyPending() {
    if (!m_pending || !m_splitter) return;
    const int wanted = *m_pending;
    m_pending.reset();
    QList<int> sizes = m_splitter->sizes();
    const int i = m_splitter->indexOf(m_panel);
    if (i < 0 || sizes.size() < 2) return;
    const int neighbour = i == 0 ? 1 : i - 1;
    const int pair = sizes[i] + sizes[neighbour];
    const int largest = pair - m_neighbourMinimum;
    int size = wanted;
    if (size < m_minimum || size > largest) {
        if (!m_design) return;
        size = std::clamp(*m_design, std::min(m_minimum, largest), std::max(m_minimum, largest));
    }
    if (largest < m_minimum) return; // no room for both: the layout's own sizes stand
    sizes[neighbour] = pair - size;
    sizes[i] = size;
    m_splitter->setSizes(sizes);
}

} // namespace zentaro::app
