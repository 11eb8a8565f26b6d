#include "Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTime>

namespace vemlis {

namespace {

const char* const whenDoneKeys[] = {"nothing", "close", "suspend", "power-off"};

// Minutes after midnight of "HH:mm", or the fallback.
int minuteOf(const QVariant& value, int fallback) {
    const QTime time = QTime::fromString(value.toString(), QStringLiteral("HH:mm"));
    return time.isValid() ? time.hour() * 60 + time.minute() : fallback;
}

QString clock(int minute) { return QString::fromStdString(DownloadWindow::clockText(minute)); }

std::vector<std::string> stdList(const QStringList& list) {
    std::vector<std::string> result;
    for (const QString& item : list)
        if (!item.isEmpty()) result.push_back(item.toStdString());
    return result;
}

QStringList qtList(const std::vector<std::string>& list) {
    QStringList result;
    for (const std::string& item : list) result.push_back(QString::fromStdString(item));
    return result;
}

}  // namespace

Settings Settings::load(QSettings& from) {
    Settings s;
    from.beginGroup(QStringLiteral("Downloads"));
    bool number = false;
    const int limit = from.value(QStringLiteral("SpeedLimitKiB"), 0).toInt(&number);
    if (number && limit > 0 && limit <= largestSpeedLimit) s.speedLimit = limit;
    s.windowOn = readSwitch(from.value(QStringLiteral("WindowOn")), false);
    s.window.from = minuteOf(from.value(QStringLiteral("WindowFrom")), s.window.from);
    s.window.to = minuteOf(from.value(QStringLiteral("WindowTo")), s.window.to);
    const QString done = from.value(QStringLiteral("WhenQueueDone")).toString();
    for (int i = 0; i < 4; ++i)
        if (done == QLatin1String(whenDoneKeys[i])) s.whenDone = static_cast<WhenDone>(i);
    from.endGroup();
    s.catalogue = from.value(QStringLiteral("Catalogue/Url")).toString().trimmed();
    from.beginGroup(QStringLiteral("Follow"));
    const int hours = from.value(QStringLiteral("LookEveryHours"), s.lookEveryHours).toInt(&number);
    if (number && hours >= 0 && hours <= longestLook) s.lookEveryHours = hours;
    s.fetchNewByThemselves = readSwitch(from.value(QStringLiteral("DownloadByThemselves")), true);
    s.keepInTray = readSwitch(from.value(QStringLiteral("KeepRunningInTray")), false);
    const int rules = from.beginReadArray(QStringLiteral("Rules"));
    for (int i = 0; i < rules; ++i) {
        from.setArrayIndex(i);
        tavik::vemlis_loader::FollowRule rule;
        rule.seasons = stdList(from.value(QStringLiteral("Seasons")).toStringList());
        rule.languages = stdList(from.value(QStringLiteral("Languages")).toStringList());
        rule.bitRates = stdList(from.value(QStringLiteral("BitRates")).toStringList());
        const bool every = readSwitch(from.value(QStringLiteral("EverySeason")), false);
        // A rule edited into one that wants nothing, or everything by accident, is dropped.
        if ((every || !rule.seasons.empty()) && !rule.languages.empty() && !rule.bitRates.empty()) {
            if (every) rule.seasons.clear();
            s.follow.push_back(std::move(rule));
        }
    }
    from.endArray();
    from.endGroup();
    return s;
}

void Settings::save(QSettings& to) const {
    to.beginGroup(QStringLiteral("Downloads"));
    to.setValue(QStringLiteral("SpeedLimitKiB"), speedLimit);
    to.setValue(QStringLiteral("WindowOn"), windowOn);
    to.setValue(QStringLiteral("WindowFrom"), clock(window.from));
    to.setValue(QStringLiteral("WindowTo"), clock(window.to));
    to.setValue(QStringLiteral("WhenQueueDone"), QLatin1String(whenDoneKeys[static_cast<int>(whenDone)]));
    to.endGroup();
    to.remove(QStringLiteral("Follow"));
    to.beginGroup(QStringLiteral("Follow"));
    to.setValue(QStringLiteral("LookEveryHours"), lookEveryHours);
    to.setValue(QStringLiteral("DownloadByThemselves"), fetchNewByThemselves);
    to.setValue(QStringLiteral("KeepRunningInTray"), keepInTray);
    to.beginWriteArray(QStringLiteral("Rules"), static_cast<int>(follow.size()));
    for (std::size_t i = 0; i < follow.size(); ++i) {
        to.setArrayIndex(static_cast<int>(i));
        to.setValue(QStringLiteral("EverySeason"), follow[i].seasons.empty());
        to.setValue(QStringLiteral("Seasons"), qtList(follow[i].seasons));
        to.setValue(QStringLiteral("Languages"), qtList(follow[i].languages));
        to.setValue(QStringLiteral("BitRates"), qtList(follow[i].bitRates));
    }
    to.endArray();
    to.endGroup();
    // Written only when it differs from what the files say: an address an administrator set for
    // every user stays theirs to change.
    if (to.value(QStringLiteral("Catalogue/Url")).toString().trimmed() != catalogue)
        to.setValue(QStringLiteral("Catalogue/Url"), catalogue);
    to.sync();
}

std::unique_ptr<QSettings> userSettings() {
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                QStringLiteral("Vemlis loader"), QStringLiteral("Vemlis loader"));
    const QString earlier = QFileInfo(settings->fileName()).path() + QStringLiteral("/Vemlis loader.ini");
    if (QFile::exists(earlier)) {
        if (!QFile::exists(settings->fileName())) {
            QSettings ini(earlier, QSettings::IniFormat);
            for (const QString& key : ini.allKeys()) settings->setValue(key, ini.value(key));
            settings->sync();
        }
        if (settings->status() == QSettings::NoError) QFile::remove(earlier);
    }
    return settings;
}

bool readSwitch(const QVariant& value, bool fallback) {
    const QString word = value.toString().trimmed().toLower();
    for (const char* off : {"no", "off", "false", "0"})
        if (word == QLatin1String(off)) return false;
    for (const char* on : {"yes", "on", "true", "1"})
        if (word == QLatin1String(on)) return true;
    return fallback;
}

}  // namespace vemlis
