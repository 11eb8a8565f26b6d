#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "components/Prompter.h"

// Answers the program's questions from a script and records what was shown.
class ScriptedPrompter final : public vemlis::Prompter {
public:
    // Questions of an earlier run that a signal closed are asked again.
    ScriptedPrompter() {
        vemlis::setPrompter(this);
        vemlis::openQuestions();
    }
    ~ScriptedPrompter() override { vemlis::setPrompter(nullptr); }

    std::vector<std::string> messages;
    std::vector<std::string> saveTitles;
    std::vector<std::string> saveInitialNames;
    std::deque<std::optional<std::string>> saveAnswers;  // nullopt: cancel
    std::deque<int> dialogResults;
    std::vector<std::string> dialogsShown;
    // Answers a dialog when set (it may change the dialog first); else dialogResults.
    std::function<int(QWidget*)> onDialog;
    // Answers a save dialog when set, after it is recorded; else saveAnswers.
    std::function<std::optional<std::string>()> onSave;

    void showMessage(QWidget*, const std::string& text) override { messages.push_back(text); }
    std::optional<std::string> askSaveFileName(QWidget*, const std::string& title, const std::string& initial) override {
        saveTitles.push_back(title);
        saveInitialNames.push_back(initial);
        if (onSave) return onSave();
        if (saveAnswers.empty()) return std::nullopt;
        auto answer = saveAnswers.front();
        saveAnswers.pop_front();
        return answer;
    }
    int execDialog(QWidget* dialog) override;
};
