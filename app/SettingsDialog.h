#pragma once

#include <QDialog>

#include "app/Settings.h"

class QCheckBox;
class QComboBox;
class QSpinBox;
class QTimeEdit;

namespace vemlis {

// The few settings for unattended downloads: a speed limit, the hours downloads may run in,
// and what happens when the queue is done.
class SettingsDialog final : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(const Settings& current, QWidget* parent = nullptr);
    // What the dialog shows now.
    Settings settings() const;

    QSpinBox* speedLimit;
    QCheckBox* windowOn;
    QTimeEdit* windowFrom;
    QTimeEdit* windowTo;
    QComboBox* whenDone;
};

}  // namespace vemlis
