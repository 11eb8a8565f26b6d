#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "../model/canonical.h"
#include "model/MoviesSet.h"
#include "support/TextWindow.h"

// Reads any bytes as a catalogue, then writes and re-reads the resulting state. The same bytes
// read from a file by small windows must build the same set.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tavik::vemlis_loader::MoviesSet set;
    set.readCatalogue(text);
    std::ostringstream out;
    set.save(out);
    tavik::vemlis_loader::MoviesSet restored;
    std::istringstream in(out.str());
    restored.load(in);

    static const int fd = memfd_create("catalogue", 0);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, text.data(), size, 0) != static_cast<ssize_t>(size)) std::abort();
    tavik::text::TextWindow windows(fd, size, 1 + (size > 0 ? data[size - 1] % 64 : 0));
    tavik::vemlis_loader::MoviesSet windowed;
    windowed.readCatalogue(windows);
    if (canonical(windowed) != canonical(set)) std::abort();
    return 0;
}
