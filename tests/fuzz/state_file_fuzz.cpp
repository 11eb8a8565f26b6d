#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "model/MoviesSet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tavik::vemlis_loader::MoviesSet set;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    set.load(in);
    std::ostringstream out;
    set.save(out);
    return 0;
}
