#include "ui/FontSetup.h"

namespace ui {

// Windows keeps its fonts' description in the system; there is nothing to read beforehand.
void StartReadingFontConfiguration() {}

void WaitForFontConfiguration() {}

}  // namespace ui
