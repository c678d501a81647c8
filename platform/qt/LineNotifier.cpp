#include "platform/qt/LineNotifier.h"

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#include <qt_windows.h>

LineNotifier::LineNotifier(int handle, QObject* parent)
    : QObject(parent)
    , notifier_(new QWinEventNotifier(LongToHandle(handle), this))
{
    connect(notifier_, &QWinEventNotifier::activated, this, [this] { emit activated(); });
}
#else
#include <QSocketNotifier>

LineNotifier::LineNotifier(int handle, QObject* parent)
    : QObject(parent)
    , notifier_(new QSocketNotifier(handle, QSocketNotifier::Read, this))
{
    connect(notifier_, &QSocketNotifier::activated, this, [this] { emit activated(); });
}
#endif

void LineNotifier::setEnabled(bool enabled)
{
    notifier_->setEnabled(enabled);
}

bool LineNotifier::isEnabled() const
{
    return notifier_->isEnabled();
}
