#pragma once

#include <QMdiSubWindow>

#include <functional>
#include <string>

class CView;

// The frame of one document window inside the main window. Whatever size is
// asked for, it starts at 0,0 with 100 × 180; the view then fits it.
class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit CChildFrame(QWidget* parent = nullptr);

    void SetView(CView* view);
    CView* GetActiveView() const { return view_; }

    // Called instead of closing when the user asks to close the window: the
    // document decides, and closes its frames itself.
    void SetCloseRequest(std::function<void()> request) { closeRequest_ = std::move(request); }
    // Closes the frame for good, without asking the document again.
    void CloseForGood();

    // What the windows of a controller's production forms do with their
    // frames (all do nothing for a null frame):
    // the caption becomes `title` (the document's title), when it differs;
    static void ShowTitle(QMdiSubWindow* frame, const std::string& title);
    // the frame goes beside `neighbour` (the controller's window: to its
    // right, or to its left where the right has no room; top left without
    // one), inside the client area, fitted exactly round `form`;
    static void PlaceBeside(QMdiSubWindow* frame, const QMdiSubWindow* neighbour, const QWidget& form);
    // a minimized frame is restored, shown in front and activated.
    static void BringForward(QMdiSubWindow* frame);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CView* view_ = nullptr;
    std::function<void()> closeRequest_;
    bool closing_ = false;
};
