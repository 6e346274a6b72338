// The accounts pane: the list of the user's accounts on the trust sites.
#include "app/accounts_pane.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "widgets/data_grid.h"
#include "db/database.h"

namespace zentaro::app {

AccountsPane::AccountsPane(const PaneContext& ctx, QWidget* page) : QObject(page) {
    db::Table& t = ctx.db.tbAccount;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QFrame* strip = toolbarStrip(page, QStringLiteral("Panel11"));
    navigator(ctx, strip, QStringLiteral("DBNavigator9"), t, kEditNavigator);
    findButton(ctx, strip, QStringLiteral("sbAccountFind"), t, QStringLiteral("info"),
               QStringLiteral("Название:"));
    static_cast<QHBoxLayout*>(strip->layout())->insertSpacing(strip->layout()->count() - 1, 16);
    layout->addWidget(strip);
    m_grid = app::grid(ctx, page, QStringLiteral("grdAccount"), t,
                       {{QStringLiteral("ID"), QStringLiteral("#"), 39},
                        {QStringLiteral("info"), QStringLiteral("Название"), 141},
                        {QStringLiteral("User"), QStringLiteral("Пользователь"), 142},
                        {QStringLiteral("Password"), QStringLiteral("Пароль"), 145},
                        {QStringLiteral("email"), QStringLiteral("e-mail"), 157}});
    layout->addWidget(m_grid);
}

} // namespace zentaro::app
