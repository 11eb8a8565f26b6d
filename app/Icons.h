#pragma once

#include <QIcon>
#include <QList>

namespace vemlis {

// The four 16 by 16 heading images of the statistics columns: a list mark, a black tick, a
// green tick and a red cross.
QList<QIcon> statisticsIcons();

}  // namespace vemlis
