#pragma once

#include <QIcon>
#include <QImage>
#include <QList>

namespace vemlis {

// The four 16 by 16 heading images of the statistics columns: a list mark, a black tick, a
// green tick and a red cross.
QList<QIcon> statisticsIcons();

// The program's icon at a size (the same drawing as data/vemlis-loader.svg).
QImage applicationImage(int size);
// The program's icon at the usual sizes, for the window and the dialogs.
QIcon applicationIcon();

}  // namespace vemlis
