#pragma once

#include <QMdiSubWindow>

#include <functional>

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CView* view_ = nullptr;
    std::function<void()> closeRequest_;
    bool closing_ = false;
};
