#pragma once

#include <QGroupBox>

#include <iosfwd>
#include <string>

#include "model/Forward.h"

class QLabel;
class QLineEdit;
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

    // Names the movie and queues it; false when the user cancelled the dialog.
    bool setMovieFileName(const tavik::vemlis_loader::Movie* movie, const tavik::vemlis_loader::Language* titleLanguage,
                          const tavik::vemlis_loader::Language* english, bool alwaysAsk);
    // The name the mask gives for the movie.
    static std::string generateName(const std::string& mask, const tavik::vemlis_loader::Movie* movie,
                                    const tavik::vemlis_loader::Language* titleLanguage,
                                    const tavik::vemlis_loader::Language* english);
    static std::string defaultMask(const std::string& folder);

    std::string makeSafe(std::string text) const;
    // The title without its leading numbering and trailing " -"; empty when nothing else is left.
    std::string getNameOnly(std::string text) const;

    void save(std::ostream& out) const;
    void load(std::istream& in);
    void copyDataFrom(const FileNamer* other);
    void showMaskHint();

    bool isAskMode() const;
    void setAskMode(bool ask);
    std::string getMask() const;
    void setMask(const std::string& mask);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void onResize();
    static std::string safeText(std::string text);
    static std::string nameOnlyText(std::string text);

    QRadioButton* askButton;
    QRadioButton* maskButton;
    QLineEdit* maskEdit;
    QLabel* syntaxLink;
    QLabel* maskLabel;
};

}  // namespace vemlis
