#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTranslator>

#include "AltKeys.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "app/AddressDialog.h"
#include "app/Dialogs.h"
#include "app/SettingsDialog.h"
#include "app/Translations.h"
#include "app/Twindow.h"
#include "components/QtText.h"
#include "engine/ErrorTexts.h"
#include "engine/net/HttpClient.h"
#include "model/UiTexts.h"

using namespace tavik::vemlis_loader;

TEST(Translations, AGermanSystemGetsEveryTextInGerman) {
    ASSERT_EQ(QLocale().language(), QLocale::German);
    ASSERT_EQ(vemlis::installTranslations(), "de");
    // Every text of the table has its translation (some read the same: "URL", "Status").
    QTranslator german;
    ASSERT_TRUE(german.load(":/i18n/vemlis-loader_de.qm"));
    for (int row = 0; row < uiTextCount; ++row) {
        if (englishText(row).empty()) continue;
        EXPECT_FALSE(german.translate("UiTexts", englishText(row).c_str()).isEmpty()) << englishText(row);
    }
    // And every other text of the program.
    const std::string source = vemlis::testing::readWholeFile(VEMLIS_GERMAN_TS);
    EXPECT_EQ(source.find("unfinished"), std::string::npos);
    EXPECT_NE(source.find("<translation>Ordner öffnen</translation>"), std::string::npos);
    EXPECT_EQ(uiText(rows::startDownload), "Download starten");
    EXPECT_EQ(statusName(Loaded), "Heruntergeladen");
    EXPECT_EQ(reloadQuestion(Loaded), uiText(rows::loadedQuestion));
    EXPECT_EQ(statusNames[Loaded], "Downloaded");  // what is written stays English
    EXPECT_EQ(vemlis::reasonOf(vemlis::HttpError("", vemlis::HttpError::Kind::status, 503)), "Der Server ist ausgelastet (503)");

    ScriptedPrompter prompter;
    vemlis::testing::TempDir dir;
    vemlis::Twindow window("http://127.0.0.1:9/movies.xml", dir.path());
    EXPECT_EQ(window.beginDownloadButton->text(), "Download &starten");  // Alt+S still
    EXPECT_EQ(window.settingsButton->text(), "E&instellungen");
    vemlis::SettingsDialog settings(window.getSettings(), "http://127.0.0.1:9/movies.xml", {}, &window);
    EXPECT_EQ(settings.windowTitle(), "Einstellungen");
    // No Alt key stands twice where it is seen, in German either.
    window.listPanel->show();
    EXPECT_EQ(repeatedAltKeys(&window), "") << "list panel";
    window.listPanel->hide();
    window.queuePanel->show();
    EXPECT_EQ(repeatedAltKeys(&window), "") << "download view";
    EXPECT_EQ(repeatedAltKeys(&settings), "");
    vemlis::AddressDialog address("warum", "http://example.org/movies.xml");
    EXPECT_EQ(repeatedAltKeys(&address), "");
    EXPECT_EQ(repeatedAltKeys(window.otherMoviesDialog), "");
}

// German as the system's language, whatever the machine's; offscreen.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    vemlis::testing::TempDir config;  // the user's own settings are neither read nor written
    qputenv("XDG_CONFIG_HOME", config.path().c_str());
    qputenv("LANG", "de_DE.UTF-8");
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) qunsetenv(name);
    vemlis::HttpLibrary httpLibrary;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
