#pragma once
// Qt's own texts (file dialogs, standard buttons, context menus) in Japanese, to match the
// window's. Our own texts are written in Japanese and need no translation.

namespace ui {

// Loads Qt's Japanese catalogue (from Qt's translations folder, or on Windows from the program
// itself) and installs it in the running application, whatever the user's locale. False when
// the catalogue is not there; Qt then keeps its English texts and the program works on.
bool InstallQtTranslations();

}  // namespace ui
