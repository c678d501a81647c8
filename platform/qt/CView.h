#pragma once

#include "platform/Document.h"

class QWidget;

// A view of a document in the window program: a widget that the document
// knows as one of its views for as long as the view lives.
class CView : public DocumentView {
public:
    explicit CView(Document& document) : document_(document) { document_.AddView(this); }
    ~CView() override { document_.RemoveView(this); }
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;

    Document& GetDocument() const { return document_; }
    virtual QWidget* widget() = 0;
    // Once, when the view is first shown; by default an update notification.
    virtual void OnInitialUpdate() { OnUpdate(nullptr, 0); }
    void OnUpdate(DocumentView*, long) override {}

private:
    Document& document_;
};
