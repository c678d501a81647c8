#pragma once

#include <QObject>

#ifdef Q_OS_WIN
class QWinEventNotifier;
#else
class QSocketNotifier;
#endif

// Tells the event loop's owner when a line's readiness handle
// (SerialDevice::readinessHandle()) fires: a descriptor that becomes
// readable on POSIX systems, an event that is set on Windows.
class LineNotifier : public QObject {
    Q_OBJECT
public:
    explicit LineNotifier(int handle, QObject* parent = nullptr);
    void setEnabled(bool enabled);
    bool isEnabled() const;

signals:
    void activated();

private:
#ifdef Q_OS_WIN
    QWinEventNotifier* notifier_;
#else
    QSocketNotifier* notifier_;
#endif
};
