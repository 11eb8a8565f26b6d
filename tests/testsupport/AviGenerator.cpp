#include "AviGenerator.h"

#include <cstring>

namespace vemlis::testing {

namespace {

void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void put16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}
void fourcc(std::string& out, const char* code) { out.append(code, 4); }
void patch32(std::string& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::string makeAvi(int width, int height, int frames, std::uint32_t seed) {
    const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    const std::uint32_t frameBytes = rowBytes * static_cast<std::uint32_t>(height);
    std::string out;
    out.reserve(frameBytes * static_cast<std::size_t>(frames) + 1024);

    fourcc(out, "RIFF");
    put32(out, 0);  // patched
    fourcc(out, "AVI ");

    fourcc(out, "LIST");
    const std::size_t hdrlSize = out.size();
    put32(out, 0);
    fourcc(out, "hdrl");
    fourcc(out, "avih");
    put32(out, 56);
    put32(out, 100000);                 // microseconds per frame
    put32(out, frameBytes * 10);        // max bytes per second
    put32(out, 0);                      // padding granularity
    put32(out, 0x10);                   // AVIF_HASINDEX
    put32(out, static_cast<std::uint32_t>(frames));
    put32(out, 0);                      // initial frames
    put32(out, 1);                      // streams
    put32(out, frameBytes);             // suggested buffer size
    put32(out, static_cast<std::uint32_t>(width));
    put32(out, static_cast<std::uint32_t>(height));
    for (int i = 0; i < 4; ++i) put32(out, 0);

    fourcc(out, "LIST");
    const std::size_t strlSize = out.size();
    put32(out, 0);
    fourcc(out, "strl");
    fourcc(out, "strh");
    put32(out, 56);
    fourcc(out, "vids");
    fourcc(out, "DIB ");
    put32(out, 0);  // flags
    put16(out, 0);  // priority
    put16(out, 0);  // language
    put32(out, 0);  // initial frames
    put32(out, 1);  // scale
    put32(out, 10);  // rate: 10 fps
    put32(out, 0);   // start
    put32(out, static_cast<std::uint32_t>(frames));
    put32(out, frameBytes);
    put32(out, 0xFFFFFFFFu);  // quality
    put32(out, 0);            // sample size
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<std::uint16_t>(width));
    put16(out, static_cast<std::uint16_t>(height));
    fourcc(out, "strf");
    put32(out, 40);
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(width));
    put32(out, static_cast<std::uint32_t>(height));
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);  // BI_RGB
    put32(out, frameBytes);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    patch32(out, strlSize, static_cast<std::uint32_t>(out.size() - strlSize - 4));
    patch32(out, hdrlSize, static_cast<std::uint32_t>(out.size() - hdrlSize - 4));

    fourcc(out, "LIST");
    const std::size_t moviSize = out.size();
    put32(out, 0);
    const std::size_t moviStart = out.size();
    fourcc(out, "movi");
    std::string index;
    for (int f = 0; f < frames; ++f) {
        const std::uint32_t offset = static_cast<std::uint32_t>(out.size() - moviStart);
        fourcc(out, "00db");
        put32(out, frameBytes);
        // A colour band that moves from frame to frame; bytes stay below 0x52 ('R') so the
        // picture itself never spells "RIFF".
        for (int y = 0; y < height; ++y) {
            std::string row(rowBytes, '\0');
            for (int x = 0; x < width; ++x) {
                const int band = ((x + y + f * 4 + static_cast<int>(seed) * 13) / 8) % 3;
                row[static_cast<std::size_t>(x) * 3 + static_cast<std::size_t>(band)] =
                    static_cast<char>(0x20 + (seed * 29 + static_cast<std::uint32_t>(y)) % 0x30);
            }
            out += row;
        }
        fourcc(index, "00db");
        put32(index, 0x10);  // key frame
        put32(index, offset);
        put32(index, frameBytes);
    }
    patch32(out, moviSize, static_cast<std::uint32_t>(out.size() - moviSize - 4));
    fourcc(out, "idx1");
    put32(out, static_cast<std::uint32_t>(index.size()));
    out += index;
    patch32(out, 4, static_cast<std::uint32_t>(out.size() - 8));
    return out;
}

}  // namespace vemlis::testing
