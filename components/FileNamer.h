#pragma once

#include <QGroupBox>

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "model/Forward.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vemlis {

// Decides the full path a movie is saved under, by asking (a save dialog) or from a mask such
// as "\home\me\Videos\/s./n. /E - /l /B.avi", and queues the movie under it. In the literal
// parts of a mask "\" stands for the folder separator "/"; every "/" starts a substitution.
class FileNamer final : public QGroupBox {
    Q_OBJECT
public:
    // `folder`: where generated names go by default (the data folder).
    explicit FileNamer(QWidget* parent = nullptr, const std::string& folder = {});

    // Names the movie and queues it; false when the user cancelled the dialog. With used names
    // set, a generated name that another movie holds gets the next free " (n)" form, and a
    // chosen one is refused (the dialog opens again).
    bool setMovieFileName(const tavik::vemlis_loader::Movie* movie, const tavik::vemlis_loader::Language* titleLanguage,
                          const tavik::vemlis_loader::Language* english, bool alwaysAsk);
    // The name the mask gives for the movie. A file name longer than a file system takes is
    // shortened: its longest substituted texts are cut, on character boundaries, until it fits
    // with room for a " (n)" and the ".part" of the file being written.
    static std::string generateName(const std::string& mask, const tavik::vemlis_loader::Movie* movie,
                                    const tavik::vemlis_loader::Language* titleLanguage,
                                    const tavik::vemlis_loader::Language* english);
    static std::string defaultMask(const std::string& folder);
    // "Season / title / language bit rate", as the save dialog names a movie.
    static std::string describe(const tavik::vemlis_loader::Movie* movie,
                                const tavik::vemlis_loader::Language* english);

    std::string makeSafe(std::string text) const;
    // The title without its leading numbering and trailing " -"; empty when nothing else is left.
    std::string getNameOnly(std::string text) const;

    void save(std::ostream& out) const;
    void load(std::istream& in);
    void copyDataFrom(const FileNamer* other);
    void showMaskHint();
    // The names other movies hold, while a caller names movies; null: not checked. Not owned.
    void setUsedNames(tavik::vemlis_loader::UsedNames* names) { usedNames = names; }

    // The folder of the name chosen last in the save dialog, which the next dialog opens in
    // (kept across runs by the window); empty: none yet.
    const std::string& getLastFolder() const { return lastFolder; }
    void setLastFolder(std::string folder) { lastFolder = std::move(folder); }

    bool isAskMode() const;
    void setAskMode(bool ask);
    std::string getMask() const;
    void setMask(const std::string& mask);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void onResize();
    static std::string safeText(std::string text);
    static std::string fitName(std::string name, std::vector<std::pair<std::size_t, std::size_t>> substituted);
    // What the save dialog proposes for the movie.
    std::string proposal(const tavik::vemlis_loader::Movie* movie, const tavik::vemlis_loader::Language* titleLanguage,
                         const tavik::vemlis_loader::Language* english) const;
    // Bytes of a file's own name: 255 on the file systems in use, less ".part" and " (nnn)".
    static constexpr std::size_t longestName = 255 - 5 - 6;
    static std::string nameOnlyText(std::string text);

    QRadioButton* askButton;
    QRadioButton* maskButton;
    QLineEdit* maskEdit;
    QPushButton* syntaxLink;
    QLabel* maskLabel;
    tavik::vemlis_loader::UsedNames* usedNames = nullptr;
    std::string defaultFolder;  // where movies go unless the user chose a folder in this run
    std::string lastFolder;     // of the name chosen last in the save dialog, this run or an earlier one
};

}  // namespace vemlis
