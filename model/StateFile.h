#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include "MoviesSet.h"

// Line primitives of the state file, shared by every block's reader and writer.
namespace tavik::vemlis_loader {

// Reads one line without its line end (LF, or CR LF). False when nothing could be read.
bool readLine(std::istream& in, std::string& line);
// Consumes one line; true when the stream was good, a line was read and it equals the keyword.
bool expectLine(std::istream& in, std::string_view keyword);
// Writes a value on a line of its own. A CR or LF in the value becomes a blank: the format
// has no escape, and a line break would shift every following line.
void writeLine(std::ostream& out, std::string_view value);

const char* loadFlagWord(LoadFlag flag);
LoadFlag loadFlagFromWord(std::string_view word);

}  // namespace tavik::vemlis_loader
