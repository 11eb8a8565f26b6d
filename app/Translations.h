#pragma once

#include <QLocale>
#include <QString>

namespace vemlis {

// Puts the program's texts in the locale's language where a translation is shipped (German),
// with Qt's own for its standard buttons where the system has it; English, as written, stays
// otherwise. Call once, before any window is made. Gives the language taken ("de"), or empty.
QString installTranslations(const QLocale& locale = QLocale());

}  // namespace vemlis
