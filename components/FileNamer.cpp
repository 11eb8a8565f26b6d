#include "FileNamer.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>

#include <istream>
#include <ostream>

#include "components/Prompter.h"
#include "model/MoviesSet.h"
#include "model/StateFile.h"
#include "model/UsedNames.h"
#include "components/QtText.h"
#include "model/UiTexts.h"
#include "support/FileNames.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

namespace {

// A button that looks like a link, in the theme's link colour: reached by Tab, pressed by
// Enter or Space, and told to screen readers as a button.
class LinkButton final : public QPushButton {
public:
    explicit LinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
        setFlat(true);
        setAutoDefault(true);
        setCursor(Qt::PointingHandCursor);
        QFont underlined = font();
        underlined.setUnderline(true);
        setFont(underlined);
        followPalette();
    }

protected:
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::PaletteChange && !adjusting) followPalette();
        QPushButton::changeEvent(event);
    }
    QSize sizeHint() const override { return fontMetrics().size(Qt::TextShowMnemonic, text()) + QSize(6, 4); }

private:
    void followPalette() {
        adjusting = true;
        QPalette colours = palette();
        colours.setColor(QPalette::ButtonText, colours.color(QPalette::Link));
        setPalette(colours);
        adjusting = false;
    }
    bool adjusting = false;
};

std::string toStd(const QString& text) { return text.toUtf8().toStdString(); }

// A substituted text never brings a folder of its own into the path: no separator, and no
// "." or ".." standing as a whole folder name; nor a control character, which the system would
// refuse only once the file has been fetched (and a NUL would cut the name short).
std::string noSeparators(std::string text) {
    for (char& c : text)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
    if (text == "." || text == "..") text.assign(text.size(), '_');
    return text;
}

std::string twoDigits(std::size_t n) {
    std::string digits = std::to_string(n);
    return digits.size() < 2 ? "0" + digits : digits;
}

}  // namespace

FileNamer::FileNamer(QWidget* parent, const std::string& folder) : QGroupBox(parent), defaultFolder(folder) {
    setTitle(qtText(rows::namingCaption));
    askButton = new QRadioButton(qtText(rows::askForNames), this);
    askButton->setObjectName("askButton");
    maskButton = new QRadioButton(qtText(rows::generateNamesByMask), this);
    maskButton->setObjectName("maskButton");
    maskLabel = new QLabel(qtText(rows::maskCaption), this);
    maskEdit = new QLineEdit(this);
    maskEdit->setObjectName("maskEdit");
    maskEdit->setAccessibleName(tr("Mask"));
    maskLabel->setBuddy(maskEdit);
    auto* link = new LinkButton(qtText(rows::syntax), this);
    link->setObjectName("syntaxLink");
    connect(link, &QPushButton::clicked, this, &FileNamer::showMaskHint);
    syntaxLink = link;
    askButton->setChecked(true);
    maskEdit->setText(toQt(defaultMask(folder)));
    setMinimumHeight(80);
    onResize();
}

std::string FileNamer::defaultMask(const std::string& folder) {
    std::string mask = folder;
    for (char& c : mask)
        if (c == '/') c = '\\';
    if (!mask.empty() && mask.back() != '\\') mask += '\\';
    return mask + "/s./n. /E - /l /B.avi";
}

void FileNamer::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    onResize();
}

void FileNamer::onResize() {
    const int w = width();
    const int line = fontMetrics().height() + 4;
    askButton->setGeometry(2, 20, w - 2 - 10, line);
    maskButton->setGeometry(2, 38, w - 2 - 10, line);
    maskLabel->adjustSize();
    maskLabel->move(2, 60);
    syntaxLink->adjustSize();
    syntaxLink->move(w - syntaxLink->width() - 10, 60);
    const int editLeft = maskLabel->x() + maskLabel->width() + 5;
    maskEdit->setGeometry(editLeft, 56, std::max(20, w - editLeft - syntaxLink->width() - 15),
                          maskEdit->sizeHint().height());
}

bool FileNamer::setMovieFileName(const Movie* movie, const Language* titleLanguage, const Language* english,
                                 bool alwaysAsk) {
    if (askButton->isChecked() || alwaysAsk) {
        const std::string title = uiText(rows::savingEpisode) + describe(movie, english);
        std::string initial = proposal(movie, titleLanguage, english);
        for (;;) {
            const auto chosen = prompter().askSaveFileName(window(), title, initial);
            if (!chosen) return false;
            initial = *chosen;
            if (!tavik::text::isPlainFileName(*chosen)) {
                prompter().showMessage(window(), tr("The name\n%1\nholds characters that a file name cannot have. "
                                                    "Please, choose another name.")
                                                     .arg(QString::fromStdString(tavik::text::suggestedFileName(*chosen)))
                                                     .toStdString());
                continue;
            }
            const Movie* holder = usedNames ? usedNames->holder(*chosen, movie) : nullptr;
            if (!holder) {
                movie->queue(*chosen);
                if (const std::size_t slash = chosen->rfind('/'); slash != std::string::npos)
                    lastFolder = chosen->substr(0, slash);
                break;
            }
            prompter().showMessage(window(), tr("The name\n%1\nis already given to another movie: %2. Please, choose "
                                                "another name.")
                                                 .arg(QString::fromStdString(*chosen),
                                                      QString::fromStdString(describe(holder, english)))
                                                 .toStdString());
        }
    } else {
        const std::string name = generateName(getMask(), movie, titleLanguage, english);
        movie->queue(usedNames ? usedNames->freeName(name, movie) : name);
    }
    if (usedNames) usedNames->note(movie);
    return true;
}

std::string FileNamer::proposal(const Movie* movie, const Language* titleLanguage, const Language* english) const {
    // A movie named before (queued, saved, or failed to save) keeps the path its user chose.
    if (movie->getLoadFlag() != NoLoad) return movie->getFileName();
    // Otherwise the name is the catalogue's: only a suggestion of a file name, never of where it
    // goes. Without one, the name the mask would give.
    std::string name = tavik::text::suggestedFileName(movie->getFileName());
    if (name.empty())
        name = tavik::text::suggestedFileName(generateName("/s./n. /E - /l /B.avi", movie, titleLanguage, english));
    const std::string& folder = lastFolder.empty() ? defaultFolder : lastFolder;
    if (folder.empty() || name.empty()) return name;
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

std::string FileNamer::describe(const Movie* movie, const Language* english) {
    const Film* film = movie->getFilm();
    return film->getSeason()->getName() + " / " + film->getName(english) + " / " + movie->getLanguage()->getID() + " " +
           movie->getBitRate()->getDescription();
}

std::string FileNamer::generateName(const std::string& mask, const Movie* movie, const Language* titleLanguage,
                                    const Language* english) {
    auto safe = [](std::string text) { return safeText(std::move(text)); };
    auto nameOnly = [](std::string text) { return nameOnlyText(std::move(text)); };
    const Film* film = movie->getFilm();
    const Season* season = film->getSeason();
    std::size_t index = 0;
    const auto& films = season->getFilms();
    for (std::size_t i = 0; i < films.size(); ++i)
        if (films[i].get() == film) index = i + 1;

    std::string out;
    std::vector<std::pair<std::size_t, std::size_t>> substituted;  // where the texts went in `out`
    for (std::size_t i = 0; i < mask.size(); ++i) {
        const char c = mask[i];
        if (c != '/') {
            out += c == '\\' ? '/' : c;
            continue;
        }
        if (i + 1 >= mask.size()) break;  // a "/" at the end is dropped
        const char letter = mask[i + 1];
        std::string text;
        switch (letter) {
            case 's': {
                const std::string name = season->getName();
                text = name.rfind("Season ", 0) == 0 ? name.substr(7) : name;
                break;
            }
            case 'S': text = safe(season->getName()); break;
            case 'l': text = safe(movie->getLanguage()->getID()); break;
            case 'L': text = safe(movie->getLanguage()->getCaption()); break;
            case 'B': text = safe(movie->getBitRate()->getDescription()); break;
            case 'n': text = twoDigits(index); break;
            case 'N': text = std::to_string(index); break;
            case 't': text = safe(film->getName(titleLanguage)); break;
            case 'T': text = safe(nameOnly(film->getName(titleLanguage))); break;
            case 'e': text = safe(film->getName(english)); break;
            case 'E': text = safe(nameOnly(film->getName(english))); break;
            default: continue;  // the next character is read again as it stands
        }
        substituted.emplace_back(out.size(), 0);
        out += noSeparators(text);
        substituted.back().second = out.size() - substituted.back().first;
        ++i;
    }
    return fitName(std::move(out), std::move(substituted));
}

std::string FileNamer::fitName(std::string name, std::vector<std::pair<std::size_t, std::size_t>> substituted) {
    const std::size_t start = name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1;
    // Only the texts of the file's own name are cut, never the folder or the literal parts
    // (the extension among them): the longest first, down to the next longest, so that each
    // keeps its start.
    while (name.size() - start > longestName) {
        auto longest = substituted.end();
        std::size_t next = 0;
        for (auto it = substituted.begin(); it != substituted.end(); ++it) {
            if (it->first < start || it->second == 0) continue;
            if (longest == substituted.end() || it->second > longest->second) {
                if (longest != substituted.end()) next = std::max(next, longest->second);
                longest = it;
            } else {
                next = std::max(next, it->second);
            }
        }
        if (longest == substituted.end()) break;  // nothing of ours to cut
        const std::size_t excess = name.size() - start - longestName;
        std::size_t target = longest->second > excess ? longest->second - excess : 0;
        if (target < next) target = next < longest->second ? next : longest->second - 1;
        const std::string_view text(name.data() + longest->first, longest->second);
        const std::size_t keep = tavik::text::utf8Prefix(text, target).size();
        const std::size_t cut = longest->second - keep;
        name.erase(longest->first + keep, cut);
        longest->second = keep;
        for (auto& span : substituted)
            if (span.first > longest->first) span.first -= cut;
    }
    return name;
}

std::string FileNamer::makeSafe(std::string text) const { return safeText(std::move(text)); }

std::string FileNamer::getNameOnly(std::string text) const { return nameOnlyText(std::move(text)); }

std::string FileNamer::safeText(std::string text) {
    for (char& c : text)
        switch (c) {
            case '\n': case '\r': case '\t': case '\b': case '/': case '\\': case ':': case '*': case '?': case '"':
            case '<': case '>': case '|': c = '_'; break;
            default: break;
        }
    return text;
}

std::string FileNamer::nameOnlyText(std::string text) {
    const std::size_t start = text.find_first_not_of("0123456789.- ");
    if (start == std::string::npos) return {};
    const std::size_t end = text.find_last_not_of("- ");
    return text.substr(start, end - start + 1);
}

void FileNamer::save(std::ostream& out) const {
    writeLine(out, "FileNamer");
    writeLine(out, isAskMode() ? "AskForNames" : "GenerateNamesByMask");
    writeLine(out, getMask());
}

void FileNamer::load(std::istream& in) {
    std::string line;
    if (!readLine(in, line) || line != "FileNamer") return;
    if (!readLine(in, line)) return;
    setAskMode(line == "AskForNames");
    if (readLine(in, line)) setMask(line);
}

void FileNamer::copyDataFrom(const FileNamer* other) {
    setAskMode(other->isAskMode());
    setMask(other->getMask());
    lastFolder = other->lastFolder;
}

void FileNamer::showMaskHint() {
    // On this platform "/" separates folders, and masks write them with a backslash.
    prompter().showMessage(window(), uiText(rows::maskHelp) +
                                         "\n" + tr("Folders are written with \"\\\": here \"/\" starts a substitution.").toStdString());
}

bool FileNamer::isAskMode() const { return askButton->isChecked(); }

void FileNamer::setAskMode(bool ask) { (ask ? askButton : maskButton)->setChecked(true); }

std::string FileNamer::getMask() const { return toStd(maskEdit->text()); }

void FileNamer::setMask(const std::string& mask) { maskEdit->setText(toQt(mask)); }

}  // namespace vemlis
