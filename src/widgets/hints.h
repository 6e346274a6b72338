// Hints in two parts: the tooltip and the long text shown in the work panel.
#pragma once

#include <QObject>
#include <QString>

class QAction;
class QWidget;

namespace zentaro::app {

// Hints have the form "short|long": the tooltip shows the short part, the work panel the long part.
QString shortHint(const QString& hint);
QString longHint(const QString& hint);
void setHint(QWidget* w, const QString& hint);
void setHint(QAction* a, const QString& hint);
QString hintOf(const QWidget* w);

// The application-wide hint handler: follows the mouse and menu highlighting and reports the long hint
// of what is pointed at (the nearest control with a hint), or the empty text.
class AppHint : public QObject {
    Q_OBJECT
public:
    explicit AppHint(QObject* parent = nullptr);
    const QString& current() const { return m_current; }
    // The widget under the mouse changed (also called by tests).
    void pointAt(const QWidget* w);
    void pointAt(const QAction* a);

signals:
    void hintChanged(const QString& longHint);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void set(const QString& text);
    QString m_current;
};

} // namespace zentaro::app
