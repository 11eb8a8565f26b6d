#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include <map>
#include <string>

// The Alt letters of what can be seen at once under `root` (buttons, boxes, labels with a
// buddy), each with the texts that carry it: a letter with two texts presses neither.
inline std::map<QChar, std::string> altKeysShown(QWidget* root) {
    std::map<QChar, std::string> keys;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(root)) continue;
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = button->text();
        else if (auto* label = qobject_cast<QLabel*>(widget); label && label->buddy())
            text = label->text();
        else if (auto* box = qobject_cast<QGroupBox*>(widget))
            text = box->title();
        for (qsizetype at = text.indexOf('&'); at >= 0 && at + 1 < text.size(); at = text.indexOf('&', at + 2)) {
            if (text[at + 1] == '&') continue;
            std::string& texts = keys[text[at + 1].toLower()];
            texts += (texts.empty() ? "" : " | ") + text.toStdString();
            break;
        }
    }
    return keys;
}

// The letters that stand on more than one text, for a test's message; empty when none does.
inline std::string repeatedAltKeys(QWidget* root) {
    std::string repeated;
    for (const auto& [letter, texts] : altKeysShown(root))
        if (texts.find(" | ") != std::string::npos) repeated += QString(letter).toStdString() + ": " + texts + "\n";
    return repeated;
}
