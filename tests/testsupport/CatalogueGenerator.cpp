#include "CatalogueGenerator.h"

#include <random>

namespace vemlis::testing {

namespace {

struct LanguageInfo {
    const char* id;
    const char* caption;
    const char* word;
};

const LanguageInfo languages[] = {
    {"EN", "English", "Episode"},
    {"DE", "Deutsch", "Folge"},
    {"RU", "Русский", "Серия"},
};

struct RateInfo {
    const char* id;
    const char* description;
};

const RateInfo rates[] = {
    {"hi", "High quality, 1200 kbit/s"},
    {"mid", "Medium quality, 700 kbit/s"},
    {"lo", "Low quality, 400 kbit/s"},
};

const char* const subjects[] = {"The Tower", "Winter Road", "Lost Letters", "The Old Mill", "Night Train",
                                "Mirrors", "The Ferry", "Bells of the Harbour", "Glass Garden", "Last Light"};

}  // namespace

GeneratedCatalogue generateCatalogue(const CatalogueShape& shape) {
    GeneratedCatalogue result;
    std::mt19937 random(shape.seed);
    std::string& doc = result.document;
    doc.reserve(static_cast<std::size_t>(shape.seasons) * static_cast<std::size_t>(shape.episodes) *
                (200 + 90 * static_cast<std::size_t>(shape.variants)));
    doc += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Movies>\n<Languages>\n";
    for (const auto& l : languages)
        doc += std::string("  <Language id=\"") + l.id + "\" caption=\"" + l.caption + "\"/>\n";
    doc += "</Languages>\n<Link_Classes>\n";
    for (const auto& r : rates)
        doc += std::string("  <Link_Class id=\"") + r.id + "\" description=\"" + r.description + "\"/>\n";
    doc += "</Link_Classes>\n<Seasons>\n";

    int fileNumber = 0;
    int leftInFile = 0;
    int linkNumber = 0;
    GeneratedFile* file = nullptr;
    auto newFileSize = [&] {
        std::uniform_int_distribution<int> size(shape.minMoviesPerFile, shape.maxMoviesPerFile);
        return size(random);
    };

    for (int s = 1; s <= shape.seasons; ++s) {
        doc += "<Season>\n  <Name>Season " + std::to_string(s) + "</Name>\n";
        for (int e = 1; e <= shape.episodes; ++e) {
            doc += "  <Entry>\n";
            const std::string subject = subjects[(s * 7 + e) % 10];
            for (const auto& l : languages)
                doc += std::string("    <Name lang=\"") + l.id + "\">" + std::to_string(e) + ". " + subject + " (" +
                       l.word + " " + std::to_string(s) + "-" + std::to_string(e) + ")</Name>\n";
            for (int v = 0; v < shape.variants; ++v) {
                const auto& l = languages[v % 3];
                const auto& r = rates[(v / 3) % 3];
                if (leftInFile == 0) {
                    ++fileNumber;
                    leftInFile = newFileSize();
                    result.files.push_back({"/files/part" + std::to_string(fileNumber) + ".avi", {}});
                    file = &result.files.back();
                }
                --leftInFile;
                file->movies.push_back({s, e, l.id, r.id});
                ++result.movieCount;
                ++linkNumber;
                const std::string url = shape.baseURL + file->path;
                std::string suggestion;
                if (shape.suggestEvery > 0 && linkNumber % shape.suggestEvery == 0)
                    suggestion = "!S" + std::to_string(s) + "E" + std::to_string(e) + " " + l.id + " " + r.id + ".avi";
                // Both forms of a link: the address as the element's text and as an attribute.
                if (linkNumber % 2)
                    doc += std::string("    <Link lang=\"") + l.id + "\" id=\"" + r.id + "\">" + url + suggestion +
                           "</Link>\n";
                else
                    doc += std::string("    <Link lang=\"") + l.id + "\" id=\"" + r.id + "\" href=\"" + url +
                           suggestion + "\"/>\n";
            }
            doc += "  </Entry>\n";
        }
        doc += "</Season>\n";
    }
    doc += "<Season>\n  <Name>FAQ's</Name>\n  <Entry><Name lang=\"EN\">How to play</Name></Entry>\n</Season>\n";
    doc += "</Seasons>\n</Movies>\n";
    return result;
}

}  // namespace vemlis::testing
