#include "platform/qt/QtPrompts.h"

#include "platform/MessageReport.h"

#include <algorithm>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>

namespace {

bool onScreen(const QMessageBox* box)
{
    return box != nullptr && box->isVisible();
}

} // namespace

QtPrompts::~QtPrompts()
{
    // Reports without an owner would outlive the prompts that count them.
    for (auto& entry : reports_)
        delete entry.second.box.data();
}

MessageAnswer QtPrompts::messageBox(const std::string& caption, const std::string& text, MessageButtons buttons,
                                    MessageIcon icon)
{
    QMessageBox::StandardButtons set = QMessageBox::Ok;
    switch (buttons) {
    case MessageButtons::Ok: set = QMessageBox::Ok; break;
    case MessageButtons::OkCancel: set = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MessageButtons::YesNo: set = QMessageBox::Yes | QMessageBox::No; break;
    case MessageButtons::YesNoCancel: set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case MessageButtons::AbortRetryIgnore: set = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore; break;
    case MessageButtons::RetryCancel: set = QMessageBox::Retry | QMessageBox::Cancel; break;
    }
    QMessageBox box(icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QString::fromStdString(caption), QString::fromStdString(text), set, owner_.data());
    box.setWindowModality(Qt::ApplicationModal);
    // A box that opens while some loop waits in place is answered with the
    // arrow, not under that loop's wait cursor.
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int pressed = box.exec();
    if (waiting)
        QApplication::restoreOverrideCursor();
    switch (pressed) {
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Abort: return MessageAnswer::Abort;
    case QMessageBox::Retry: return MessageAnswer::Retry;
    case QMessageBox::Ignore: return MessageAnswer::Ignore;
    case QMessageBox::Ok: return MessageAnswer::Ok;
    default:
        // Closed from the title bar: the answer a box's Escape key gives.
        switch (buttons) {
        case MessageButtons::Ok: return MessageAnswer::Ok;
        case MessageButtons::YesNo: return MessageAnswer::No;
        case MessageButtons::AbortRetryIgnore: return MessageAnswer::Abort;
        default: return MessageAnswer::Cancel;
        }
    }
}

void QtPrompts::report(const std::string& key, const std::string& caption, const std::string& text,
                       MessageIcon icon)
{
    showStatusMessage(text);
    for (auto it = reports_.begin(); it != reports_.end();) {
        if (onScreen(it->second.box)) {
            ++it;
        } else {
            delete it->second.box.data();
            it = reports_.erase(it);
        }
    }
    auto open = reports_.find(key);
    if (open != reports_.end()) {
        OpenReport& r = open->second;
        ++r.more;
        r.box->setText(QString::fromStdString(report::countedReportText(r.text, r.more)));
        r.box->raise();
        return;
    }
    // Gone by itself once answered; the owner takes along what is still open.
    auto* box = new QMessageBox(icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                                QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                                owner_.data());
    // A message box makes itself modal unless told otherwise.
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
    const int others = openReports();
    reports_[key] = OpenReport {box, text, 0};
    place(box, others);
    box->show();
}

void QtPrompts::place(QWidget* box, int others) const
{
    // Centred on the main window as a box would be, each further open
    // report a title bar lower and to the right, so that none hides another.
    box->adjustSize();
    const QWidget* anchor = owner_ ? owner_->window() : nullptr;
    QScreen* screen = anchor ? anchor->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QRect over = anchor && anchor->isVisible() ? anchor->frameGeometry() : area;
    const int step = std::max(24, box->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 6);
    QPoint at = over.center() - QPoint(box->width() / 2, box->height() / 2) + QPoint(step, step) * (others % 8);
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - box->width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - box->height())));
    box->move(at);
}

int QtPrompts::openReports() const
{
    int n = 0;
    for (const auto& entry : reports_)
        n += onScreen(entry.second.box) ? 1 : 0;
    return n;
}

void QtPrompts::beginWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtPrompts::endWaitCursor()
{
    QApplication::restoreOverrideCursor();
}

void QtPrompts::showStatusMessage(const std::string& text)
{
    if (statusBar_) {
        statusBar_->showMessage(QString::fromStdString(text));
        statusBar_->repaint();
    }
}

void QtPrompts::takeBackStatusMessage(const std::string& text)
{
    if (statusBar_ && statusBar_->currentMessage() == QString::fromStdString(text))
        statusBar_->clearMessage();
}

void QtPrompts::beep()
{
    QApplication::beep();
}
