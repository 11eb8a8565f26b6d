#pragma once

#include <QDialog>

#include "app/Settings.h"

class QCheckBox;
class QLabel;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimeEdit;

namespace vemlis {

// The few settings for unattended downloads: a speed limit, the hours downloads may run in,
// and what happens when the queue is done; and the address of the list of episodes.
class SettingsDialog final : public QDialog {
    Q_OBJECT
public:
    // `inUse`: the address the list of episodes came from in this run; `ruleNames`: how each of
    // the followed groups reads, in their order.
    SettingsDialog(const Settings& current, const QString& inUse, const QStringList& ruleNames = {},
                   QWidget* parent = nullptr);
    // What the dialog shows now.
    Settings settings() const;

    QLineEdit* catalogue;
    QSpinBox* speedLimit;
    QCheckBox* windowOn;
    QTimeEdit* windowFrom;
    QTimeEdit* windowTo;
    QComboBox* whenDone;
    QSpinBox* lookEvery;
    QCheckBox* fetchNew;
    QCheckBox* keepInTray;
    QCheckBox* startAtLogin;
    QListWidget* rules;  // the followed groups, each removable
    QPushButton* removeRule;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::vector<tavik::vemlis_loader::FollowRule> follow;  // as the list shows them
    std::vector<QLabel*> wrapped;  // texts that wrap

public slots:
    // Refused, with a message, for an address that is neither empty nor http:// or https://.
    void accept() override;
};

}  // namespace vemlis
