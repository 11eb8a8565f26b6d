#include <gtest/gtest.h>

#include <sstream>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ScriptedPrompter.h"
#include "components/FileNamer.h"
#include "model/MoviesSet.h"

using namespace vemlis;
using namespace tavik::vemlis_loader;

namespace {

struct Catalogue {
    MoviesSet set;
    Season* season;
    const Movie* movie;
    Catalogue(const std::string& seasonName = "Season 2", int filmIndex = 3) {
        set.addLanguage("EN", "English");
        set.addLanguage("DE", "Deutsch");
        set.addBitRate("hi", "High");
        season = set.addSeason(seasonName);
        Film* film = nullptr;
        for (int i = 1; i <= filmIndex; ++i) film = season->addFilm();
        film->setName(set, "EN", "3. The Visit");
        film->setName(set, "DE", "3. Der Besuch: Teil 1/2");
        movie = film->addMovie(set, "DE", "hi", "http://h/f", "old.avi", NoLoad);
    }
    const Language* en() const { return set.getLanguage("EN"); }
    const Language* de() const { return set.getLanguage("DE"); }
};

}  // namespace

TEST(FileNamer, MaskSubstitutionsAndEscapes) {
    Catalogue c;
    auto name = [&](const std::string& mask) { return FileNamer::generateName(mask, c.movie, c.de(), c.en()); };
    EXPECT_EQ(name("\\video\\/s./n. /E - /l /B.avi"), "/video/2.03. The Visit - DE High.avi");
    EXPECT_EQ(name("/S|/N|/L|/t|/T|/e"), "Season 2|3|Deutsch|3. Der Besuch_ Teil 1_2|Der Besuch_ Teil 1_2|3. The Visit");
    EXPECT_EQ(name("/x/5//S/"), "x5Season 2");  // unknown letter, digit, "//", trailing "/"
    EXPECT_EQ(name(""), "");
    EXPECT_EQ(name("plain.avi"), "plain.avi");

    Catalogue seventh("Specials", 7);
    EXPECT_EQ(FileNamer::generateName("/n /N /s", seventh.movie, nullptr, nullptr), "07 7 Specials");
    Catalogue many("Season 10", 123);
    EXPECT_EQ(FileNamer::generateName("/n /N /s", many.movie, nullptr, nullptr), "123 123 10");
    Catalogue lower("season 3", 1);
    EXPECT_EQ(FileNamer::generateName("/s", lower.movie, nullptr, nullptr), "season 3");
    Catalogue colon("Part 1: Start", 1);
    EXPECT_EQ(FileNamer::generateName("/s|/S", colon.movie, nullptr, nullptr), "Part 1: Start|Part 1_ Start");
}

TEST(FileNamer, SubstitutedTextsNeverChooseFolders) {
    Catalogue evil("Season ../../.config/x", 1);
    const std::string name = FileNamer::generateName("\\tmp\\/s\\/S.avi", evil.movie, nullptr, nullptr);
    EXPECT_EQ(name, "/tmp/.._.._.config_x/Season .._.._.config_x.avi");
    Catalogue dots("Season ..", 1);
    EXPECT_EQ(FileNamer::generateName("\\tmp\\/s\\x.avi", dots.movie, nullptr, nullptr), "/tmp/__/x.avi");
    // Control characters of a catalogue's titles never reach a name (the system refuses them).
    Catalogue control(std::string("Season 1\x01\x1b[0m\x7f", 14) + std::string("\0x", 2), 1);
    EXPECT_EQ(FileNamer::generateName("/s-/S.avi", control.movie, nullptr, nullptr),
              "1__[0m__x-Season 1__[0m__x.avi");
    EXPECT_EQ(FileNamer::defaultMask("/home/me/data"), "\\home\\me\\data\\/s./n. /E - /l /B.avi");
    EXPECT_EQ(FileNamer::generateName(FileNamer::defaultMask("/home/me/data"), evil.movie, nullptr, nullptr)
                  .rfind("/home/me/data/", 0),
              0u);
}

TEST(FileNamer, SafeTextsAndNamesWithoutIndex) {
    FileNamer namer;
    EXPECT_EQ(namer.makeSafe("a/b\\c"), "a_b_c");
    EXPECT_EQ(namer.makeSafe("C:"), "C_");
    EXPECT_EQ(namer.makeSafe("Who? Me!"), "Who_ Me!");
    EXPECT_EQ(namer.makeSafe(std::string("\n\r\t\b*\"<>|ok", 11)), "_________ok");
    EXPECT_EQ(namer.getNameOnly("05. The Visit"), "The Visit");
    EXPECT_EQ(namer.getNameOnly("1.05 - Last Call -"), "Last Call");
    EXPECT_EQ(namer.getNameOnly("Agent 7"), "Agent 7");
    EXPECT_EQ(namer.getNameOnly("12. - "), "");
    EXPECT_EQ(namer.getNameOnly(""), "");
}

TEST(FileNamer, SavesAndLoadsItsSettings) {
    FileNamer namer;
    EXPECT_TRUE(namer.isAskMode());
    std::ostringstream out;
    namer.setMask("X:\\/s.avi");
    namer.save(out);
    EXPECT_EQ(out.str(), "FileNamer\nAskForNames\nX:\\/s.avi\n");

    FileNamer other;
    std::istringstream in("FileNamer\nAnything\n  spaced mask  \nrest\n");
    other.load(in);
    EXPECT_FALSE(other.isAskMode());
    EXPECT_EQ(other.getMask(), "  spaced mask  ");
    std::string rest;
    std::getline(in, rest);
    EXPECT_EQ(rest, "rest");

    FileNamer untouched;
    untouched.setMask("keep");
    std::istringstream wrong("Something\nAskForNames\n");
    untouched.load(wrong);
    EXPECT_EQ(untouched.getMask(), "keep");
    EXPECT_TRUE(untouched.isAskMode());
    std::getline(wrong, rest);
    EXPECT_EQ(rest, "AskForNames");  // only the first line is consumed

    untouched.copyDataFrom(&other);
    EXPECT_FALSE(untouched.isAskMode());
    EXPECT_EQ(untouched.getMask(), "  spaced mask  ");
}

TEST(FileNamer, AsksThroughTheDialogWhenItShould) {
    ScriptedPrompter prompter;
    Catalogue c;
    FileNamer namer;
    // Ask mode, cancelled: nothing changes.
    EXPECT_FALSE(namer.setMovieFileName(c.movie, c.de(), c.en(), false));
    EXPECT_EQ(c.movie->getLoadFlag(), NoLoad);
    EXPECT_EQ(c.movie->getFileName(), "old.avi");
    ASSERT_EQ(prompter.saveTitles.size(), 1u);
    EXPECT_EQ(prompter.saveTitles[0], "Saving episode Season 2 / 3. The Visit / DE High");
    EXPECT_EQ(prompter.saveInitialNames[0], "old.avi");

    prompter.saveAnswers.push_back("/tmp/chosen.avi");
    EXPECT_TRUE(namer.setMovieFileName(c.movie, c.de(), c.en(), false));
    EXPECT_EQ(c.movie->getLoadFlag(), Queue);
    EXPECT_EQ(c.movie->getFileName(), "/tmp/chosen.avi");

    // Mask mode: no dialog unless always-ask.
    namer.setAskMode(false);
    namer.setMask("\\m\\/l.avi");
    EXPECT_TRUE(namer.setMovieFileName(c.movie, c.de(), c.en(), false));
    EXPECT_EQ(c.movie->getFileName(), "/m/DE.avi");
    EXPECT_EQ(prompter.saveTitles.size(), 2u);
    EXPECT_FALSE(namer.setMovieFileName(c.movie, c.de(), c.en(), true));
    EXPECT_EQ(prompter.saveTitles.size(), 3u);

    namer.showMaskHint();
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].rfind("Names of files could be generated by mask.", 0), 0u);
    EXPECT_TRUE(prompter.messages[0].ends_with(
        "/E - Title of episode in English without index\nFolders are written with \"\\\": here \"/\" starts a "
        "substitution."))
        << prompter.messages[0];
}

TEST(FileNamer, ACatalogueNameIsOnlyASuggestionOfAFileName) {
    ScriptedPrompter prompter;
    Catalogue c;
    FileNamer namer(nullptr, "/home/me/Videos");
    for (const auto& [given, proposed] : std::vector<std::pair<std::string, std::string>>{
             {"../../.profile", "/home/me/Videos/.profile"},
             {"/home/someone/.bashrc", "/home/me/Videos/.bashrc"},
             {"a\\..\\b.avi", "/home/me/Videos/b.avi"},
             {std::string("x\0y\r.avi", 8), "/home/me/Videos/xy.avi"},
             {"..", "/home/me/Videos/2.03. The Visit - DE High.avi"}}) {
        c.movie->setNoLoad();
        c.movie->queue(given);
        c.movie->setNoLoad();
        EXPECT_FALSE(namer.setMovieFileName(c.movie, c.de(), c.en(), false));
        EXPECT_EQ(prompter.saveInitialNames.back(), proposed) << given;
    }
    // A name with a control character is refused before anything is queued; the folder chosen
    // last is where the next proposal goes.
    prompter.saveAnswers = {std::string("/tmp/a\nb.avi"), std::string("/tmp/movies/ok.avi")};
    EXPECT_TRUE(namer.setMovieFileName(c.movie, c.de(), c.en(), false));
    EXPECT_EQ(c.movie->getFileName(), "/tmp/movies/ok.avi");
    EXPECT_EQ(prompter.messages.size(), 1u);
    c.movie->setNoLoad();
    EXPECT_FALSE(namer.setMovieFileName(c.movie, c.de(), c.en(), false));
    EXPECT_EQ(prompter.saveInitialNames.back(), "/tmp/movies/ok.avi");
}

TEST(FileNamer, LongGeneratedNamesAreShortenedToFit) {
    Catalogue c;
    std::string title = "3. ";
    for (int i = 0; i < 150; ++i) title += "\xc3\xa4";  // 300 bytes of "ä"
    const_cast<Film*>(c.movie->getFilm())->setName(c.set, "EN", title);
    const std::string folder = "/" + std::string(300, 'f');
    const std::string name = FileNamer::generateName("\\" + folder.substr(1) + "\\/E and /E.avi", c.movie, c.de(), c.en());
    const std::string file = name.substr(name.rfind('/') + 1);
    EXPECT_EQ(name.substr(0, folder.size() + 1), folder + "/");  // the folder is never cut
    EXPECT_LE(file.size(), 244u);
    EXPECT_GE(file.size(), 240u);
    EXPECT_LE(file.find(" and "), 122u);  // both titles cut alike
    EXPECT_TRUE(file.ends_with(".avi"));
    EXPECT_NE(file.find(" and "), std::string::npos);  // literal text stays
    // Cut on character boundaries: every byte pair is whole.
    const std::string cut = file.substr(0, file.size() - 4);
    for (std::size_t i = 0; i < cut.size();) {
        if (cut.compare(i, 5, " and ") == 0) {
            i += 5;
            continue;
        }
        ASSERT_EQ(cut.compare(i, 2, "\xc3\xa4"), 0) << i;
        i += 2;
    }
    // Ordinary names are left as they are.
    EXPECT_EQ(FileNamer::generateName("/l /B.avi", c.movie, c.de(), c.en()), "DE High.avi");
}

TEST(FileNamer, TheSyntaxIsAButtonReachedByTabAndTheMaskIsNamed) {
    ScriptedPrompter prompter;
    FileNamer namer;
    auto* syntax = namer.findChild<QPushButton*>("syntaxLink");
    ASSERT_NE(syntax, nullptr);
    EXPECT_TRUE(syntax->focusPolicy() & Qt::TabFocus);
    QTest::keyClick(syntax, Qt::Key_Return);  // Enter presses it, as Space does
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(namer.findChild<QLineEdit*>("maskEdit")->accessibleName(), "Mask");
    // In the theme's link colour, whatever the theme.
    QPalette dark = namer.palette();
    dark.setColor(QPalette::Link, QColor(120, 180, 255));
    namer.setPalette(dark);
    EXPECT_EQ(syntax->palette().color(QPalette::ButtonText), QColor(120, 180, 255));
}
