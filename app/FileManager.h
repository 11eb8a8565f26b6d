#pragma once

#include <QString>

namespace vemlis {

// Shows a file in the desktop's file manager: selected in its folder where the file manager
// offers org.freedesktop.FileManager1 on the session bus, else its folder opened as the desktop
// opens folders. False when neither could be asked.
bool showInFolder(const QString& file);

}  // namespace vemlis
