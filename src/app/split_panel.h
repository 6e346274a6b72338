// Splitter panels whose sizes are remembered in the settings and restored once laid out.
#pragma once

#include <optional>

#include <QObject>

class QSplitter;
class QWidget;

namespace zentaro::app {

// The remembered size of a panel inside a splitter (its width or height along the splitter). A size asked
// for before the splitter has its real extent waits until it has one; a size that would leave the panel or
// its neighbour below a usable minimum gives way to the design size.
class SplitPanel : public QObject {
    Q_OBJECT
public:
    // design: the size when nothing usable is stored; none leaves the splitter's own layout.
    SplitPanel(QWidget* panel, std::optional<int> design, int minimum, int neighbourMinimum);

    // The panel of a splitter with a remembered size, or null.
    static SplitPanel* of(QWidget* panel);

    // The size shown; while the splitter has not been laid out, the size it will get.
    int size() const;
    void setSize(int size);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int extent(const QWidget* w) const;
    bool laidOut() const;
    void applyPending();

    QSplitter* m_splitter;
    QWidget* m_panel;
    std::optional<int> m_design;
    int m_minimum;
    int m_neighbourMinimum;
    std::optional<int> m_pending;
    bool m_seen = false;
    bool m_queued = false;
};

} // namespace zentaro::app
