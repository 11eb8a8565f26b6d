#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "model/MoviesSet.h"

// Reads any bytes as a catalogue, then writes and re-reads the resulting state.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tavik::vemlis_loader::MoviesSet set;
    set.readCatalogue(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream out;
    set.save(out);
    tavik::vemlis_loader::MoviesSet restored;
    std::istringstream in(out.str());
    restored.load(in);
    return 0;
}
