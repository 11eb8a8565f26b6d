#pragma once

#include <QString>

#include <string_view>

#include "model/UiTexts.h"

namespace vemlis {

// UTF-8 bytes (catalogue texts, the text table) as a QString.
inline QString toQt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A row of the text table, by its name in tavik::vemlis_loader::rows.
inline QString qtText(int row) { return toQt(tavik::vemlis_loader::uiText(row)); }

}  // namespace vemlis
