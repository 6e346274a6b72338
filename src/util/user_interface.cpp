// How core talks to the user: messages and questions, answered by a window, a script or nobody.
#include "util/user_interface.h"

namespace zentaro {

void Msg(UserInterface& ui, const QString& S) {
    ui.showMessage(S, QStringLiteral("Информация"));
}

} // namespace zentaro
