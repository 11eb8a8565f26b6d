#include "IdHTTPWithSpeedCounter.h"

#include <QTimer>

#include "app/DownloadView.h"

namespace vemlis {

TIdHTTPWithSpeedCounter::TIdHTTPWithSpeedCounter(QObject* owner)
    : QObject(owner), timer(new QTimer(this)), meter([this](bool on) {
          // The timer is the GUI thread's: switched there, in the order the transfers asked. At
          // rest it wakes nobody. By the slots' names: a queued functor's holder is freed by
          // code the thread checker cannot pair with Qt's own count of it.
          QMetaObject::invokeMethod(timer, on ? "start" : "stop", Qt::QueuedConnection);
      }) {
    timer->setInterval(100);
    connect(timer, &QTimer::timeout, this, &TIdHTTPWithSpeedCounter::onTimer);
    setObserver(&meter);
}

TIdHTTPWithSpeedCounter::~TIdHTTPWithSpeedCounter() = default;

bool TIdHTTPWithSpeedCounter::isSampling() const { return timer->isActive(); }

std::string TIdHTTPWithSpeedCounter::getSize() const { return DownloadView::sizeText(meter.figures()); }
std::string TIdHTTPWithSpeedCounter::getRecieved() const { return DownloadView::receivedText(meter.figures()); }
std::string TIdHTTPWithSpeedCounter::getSpeed() const { return DownloadView::speedText(meter.figures()); }
std::string TIdHTTPWithSpeedCounter::getTime() const { return DownloadView::timeText(meter.figures()); }

}  // namespace vemlis
