#include "SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>

#include <cstdlib>

#include "app/DataFolder.h"
#include "components/Prompter.h"

namespace vemlis {

namespace {

QTime timeOf(int minute) { return QTime(minute / 60, minute % 60); }
int minuteOf(const QTime& time) { return time.hour() * 60 + time.minute(); }

}  // namespace

SettingsDialog::SettingsDialog(const Settings& current, const QString& inUse, const QStringList& ruleNames,
                               QWidget* parent)
    : QDialog(parent), follow(current.follow) {
    setObjectName("settingsDialog");
    setWindowTitle(tr("Settings"));
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);

    speedLimit = new QSpinBox(this);
    speedLimit->setObjectName("speedLimit");
    speedLimit->setRange(0, Settings::largestSpeedLimit);
    speedLimit->setSingleStep(100);
    speedLimit->setSuffix(tr(" KiB/s"));
    speedLimit->setSpecialValueText(tr("No limit"));  // 0
    speedLimit->setValue(current.speedLimit);
    form->addRow(tr("&Speed limit:"), speedLimit);

    windowOn = new QCheckBox(tr("Download &only between"), this);
    windowOn->setObjectName("windowOn");
    windowOn->setChecked(current.windowOn);
    windowFrom = new QTimeEdit(timeOf(current.window.from), this);
    windowFrom->setObjectName("windowFrom");
    windowFrom->setDisplayFormat("HH:mm");
    windowFrom->setAccessibleName(tr("From"));
    windowTo = new QTimeEdit(timeOf(current.window.to), this);
    windowTo->setObjectName("windowTo");
    windowTo->setDisplayFormat("HH:mm");
    windowTo->setAccessibleName(tr("Until"));
    auto* hours = new QHBoxLayout;
    hours->addWidget(windowFrom);
    hours->addWidget(new QLabel(tr("and"), this));
    hours->addWidget(windowTo);
    hours->addStretch(1);
    form->addRow(windowOn, hours);
    const auto followTick = [this] {
        windowFrom->setEnabled(windowOn->isChecked());
        windowTo->setEnabled(windowOn->isChecked());
    };
    connect(windowOn, &QCheckBox::toggled, this, followTick);
    followTick();

    whenDone = new QComboBox(this);
    whenDone->setObjectName("whenDone");
    whenDone->addItems({tr("Do nothing"), tr("Close the program"), tr("Suspend the computer"), tr("Power off the computer")});
    whenDone->setCurrentIndex(static_cast<int>(current.whenDone));
    const QString whenDoneCaption = tr("&When the queue is done:");
    form->addRow(whenDoneCaption, whenDone);
    // Read by its question, not by the choice it shows.
    whenDone->setAccessibleName(QString(whenDoneCaption).remove('&').remove(':'));

    lookEvery = new QSpinBox(this);
    lookEvery->setObjectName("lookEvery");
    lookEvery->setRange(0, Settings::longestLook);
    lookEvery->setSpecialValueText(tr("Only at start"));  // 0
    lookEvery->setValue(current.lookEveryHours);
    auto* lookLabel = new QLabel(tr("&Look for new episodes every"), this);
    lookLabel->setBuddy(lookEvery);
    auto* look = new QHBoxLayout;
    look->addWidget(lookEvery);
    look->addWidget(new QLabel(tr("hours"), this));
    look->addStretch(1);
    form->addRow(lookLabel, look);
    lookEvery->setAccessibleName(tr("Look for new episodes every … hours"));

    fetchNew = new QCheckBox(tr("Download new episodes by &themselves"), this);
    fetchNew->setObjectName("fetchNew");
    fetchNew->setChecked(current.fetchNewByThemselves);
    form->addRow(QString(), fetchNew);

    keepInTray = new QCheckBox(tr("&Keep running in the tray when the window is closed"), this);
    keepInTray->setObjectName("keepInTray");
    keepInTray->setChecked(current.keepInTray);
    form->addRow(QString(), keepInTray);
    startAtLogin = new QCheckBox(tr("Start when I log &in"), this);
    startAtLogin->setObjectName("startAtLogin");
    startAtLogin->setChecked(current.startAtLogin);
    form->addRow(QString(), startAtLogin);

    rules = new QListWidget(this);
    rules->setObjectName("rules");
    for (int i = 0; i < static_cast<int>(follow.size()); ++i)
        rules->addItem(i < ruleNames.size() ? ruleNames[i] : QString::number(i + 1));
    rules->setMaximumHeight(rules->fontMetrics().height() * 5 + 2 * rules->frameWidth());
    auto* rulesLabel = new QLabel(tr("&Followed groups:"), this);
    rulesLabel->setBuddy(rules);
    rules->setAccessibleName(QString(rulesLabel->text()).remove('&').remove(':'));
    removeRule = new QPushButton(tr("&Remove"), this);
    removeRule->setObjectName("removeRule");
    removeRule->setAutoDefault(false);  // Enter in the dialog means OK, never a removal
    const auto canRemove = [this] { removeRule->setEnabled(rules->currentRow() >= 0); };
    connect(rules, &QListWidget::currentRowChanged, this, canRemove);
    connect(removeRule, &QPushButton::clicked, this, [this] {
        const int row = rules->currentRow();
        if (row < 0 || row >= static_cast<int>(follow.size())) return;
        follow.erase(follow.begin() + row);
        delete rules->takeItem(row);
    });
    canRemove();
    if (follow.empty()) {
        // Nothing to list or remove: how to follow a group instead.
        rules->hide();
        removeRule->hide();
        auto* none = new QLabel(tr("None: tick \"Also queue new episodes of this group\" before Add"), this);
        none->setWordWrap(true);
        none->setEnabled(false);
        wrapped.push_back(none);
        rulesLabel->setText(rulesLabel->text().remove(QLatin1Char('&')));  // no Alt key for nothing
        auto* hint = new QVBoxLayout;
        hint->addWidget(none);
        form->addRow(rulesLabel, hint);
    } else {
        auto* followed = new QHBoxLayout;
        followed->addWidget(rules, 1);
        followed->addWidget(removeRule, 0, Qt::AlignTop);
        form->addRow(rulesLabel, followed);
    }

    catalogue = new QLineEdit(current.catalogue, this);
    catalogue->setObjectName("catalogue");
    catalogue->setPlaceholderText(inUse);
    catalogue->setMinimumWidth(fontMetrics().averageCharWidth() * 50);
    auto* note = new QLabel(tr("Used from the next start. Empty: %1").arg(inUse), this);
    note->setWordWrap(true);
    wrapped.push_back(note);
    note->setEnabled(false);  // a hint, drawn as one
    if (const char* set = std::getenv("VEMLIS_CATALOGUE_URL"); set && *set) {
        catalogue->setEnabled(false);
        note->setText(tr("Set by VEMLIS_CATALOGUE_URL: %1").arg(QString::fromLocal8Bit(set)));
    }
    auto* addressLabel = new QLabel(tr("&Address of the list of episodes:"), this);
    catalogue->setAccessibleName(QString(addressLabel->text()).remove('&').remove(':'));
    catalogue->setAccessibleDescription(note->text());
    auto* address = new QVBoxLayout;
    address->addWidget(catalogue);
    address->addWidget(note);
    addressLabel->setBuddy(catalogue);  // a row of a layout gets no buddy by itself
    form->addRow(addressLabel, address);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void SettingsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A fixed-size dialog is sized by hints taken before the widths are known: a wrapped text
    // would get the height of a wider one and be cut. Now that the widths are, it gets its own.
    for (QLabel* label : wrapped) label->setMinimumHeight(label->heightForWidth(label->width()));
}

Settings SettingsDialog::settings() const {
    Settings s;
    s.speedLimit = speedLimit->value();
    s.windowOn = windowOn->isChecked();
    s.window = DownloadWindow{minuteOf(windowFrom->time()), minuteOf(windowTo->time())};
    s.whenDone = static_cast<Settings::WhenDone>(whenDone->currentIndex());
    s.catalogue = catalogue->text().trimmed();
    s.lookEveryHours = lookEvery->value();
    s.fetchNewByThemselves = fetchNew->isChecked();
    s.follow = follow;
    s.keepInTray = keepInTray->isChecked();
    s.startAtLogin = startAtLogin->isChecked();
    return s;
}

void SettingsDialog::accept() {
    const QString address = catalogue->text().trimmed();
    if (!address.isEmpty() && !isCatalogueAddress(address.toStdString())) {
        prompter().showMessage(this, notCatalogueAddress(address.toStdString()));
        catalogue->setFocus();
        return;
    }
    QDialog::accept();
}

}  // namespace vemlis
