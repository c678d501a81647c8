#include "platform/Document.h"

#include <algorithm>

Document::~Document() = default;

bool Document::OnNewDocument()
{
    DeleteContents();
    return true;
}

bool Document::OnOpenDocument(const std::string&)
{
    DeleteContents();
    return true;
}

void Document::OnCloseDocument()
{
    if (closeHandler_) {
        // The handler may be dropped by the windows it closes.
        const auto handler = closeHandler_;
        handler();
    }
    DeleteContents();
}

void Document::AddView(DocumentView* view)
{
    if (std::find(views_.begin(), views_.end(), view) == views_.end())
        views_.push_back(view);
}

void Document::RemoveView(DocumentView* view)
{
    views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
}

void Document::UpdateAllViews(DocumentView* sender, long hint)
{
    const auto views = views_;
    for (DocumentView* view : views) {
        if (view != sender)
            view->OnUpdate(sender, hint);
    }
}
