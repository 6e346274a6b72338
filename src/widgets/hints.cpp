// Hints in two parts: the tooltip and the long text shown in the work panel.
#include "widgets/hints.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QWidget>

namespace zentaro::app {

namespace {
const char* const kHintProperty = "zentaroHint";
}

QString shortHint(const QString& hint) {
    const qsizetype bar = hint.indexOf(u'|');
    return bar < 0 ? hint : hint.left(bar);
}

QString longHint(const QString& hint) {
    const qsizetype bar = hint.indexOf(u'|');
    return bar < 0 ? hint : hint.mid(bar + 1);
}

void setHint(QWidget* w, const QString& hint) {
    w->setProperty(kHintProperty, hint);
    w->setToolTip(shortHint(hint));
}

void setHint(QAction* a, const QString& hint) {
    a->setProperty(kHintProperty, hint);
    a->setToolTip(shortHint(hint));
    a->setStatusTip(longHint(hint));
}

QString hintOf(const QWidget* w) {
    for (; w; w = w->parentWidget()) {
        const QVariant v = w->property(kHintProperty);
        if (v.isValid() && !v.toString().isEmpty()) return v.toString();
    }
    return {};
}

AppHint::AppHint(QObject* parent) : QObject(parent) {}

void AppHint::set(const QString& text) {
    if (text == m_current) return;
    m_current = text;
    emit hintChanged(text);
}

void AppHint::pointAt(const QWidget* w) {
    set(longHint(hintOf(w)));
}

void AppHint::pointAt(const QAction* a) {
    set(a ? longHint(a->property(kHintProperty).toString()) : QString());
}

bool AppHint::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter && watched->isWidgetType()) {
        pointAt(static_cast<QWidget*>(watched));
    } else if (event->type() == QEvent::Leave && watched->isWidgetType()) {
        // Back onto the parent (no Enter comes for it) or out of the window: the parent's hint, or none.
        pointAt(static_cast<QWidget*>(watched)->parentWidget());
    } else if (event->type() == QEvent::StatusTip) {
        // Menus report the highlighted item through status tips.
        if (auto* menu = qobject_cast<QMenu*>(watched)) pointAt(menu->activeAction());
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zentaro::app
