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
    QFrame* strip = nullptr;
    QVBoxLayout* layout =
        listColumn(ctx, page, t,
                   {QStringLiteral("Panel11"), QStringLiteral("DBNavigator9"),
                    QStringLiteral("sbAccountFind"), QStringLiteral("info"), QStringLiteral("Название:")},
                   &strip);
    static_cast<QHBoxLayout*>(strip->layout())->insertSpacing(strip->layout()->count() - 1, 16);
    m_grid = app::grid(ctx, page, QStringLiteral("grdAccount"), t,
                       {{QStringLiteral("ID"), QStringLiteral("#"), 39},
                        {QStringLiteral("info"), QStringLiteral("Название"), 141},
                        {QStringLiteral("User"), QStringLiteral("Пользователь"), 142},
                        {QStringLiteral("Password"), QStringLiteral("Пароль"), 145},
                        {QStringLiteral("email"), QStringLiteral("e-mail"), 157}});
    layout->addWidget(m_grid);
}

} // namespace zentaro::app
