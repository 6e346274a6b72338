#include "util/user_interface.h"

namespace zentaro {

void Msg(UserInterface& ui, const QString& S) {
    ui.showMessage(S, QStringLiteral("Информация"));
}

} // namespace zentaro
