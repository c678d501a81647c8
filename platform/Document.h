#pragma once

#include <functional>
#include <string>
#include <vector>

class DocumentView;

// The document half of the program's document/view framework: a title, a
// reset of contents, initialisation as a new document and closing. Views
// attach themselves; the window program decides what a view is. Documents
// carry no file content.
class Document {
public:
    virtual ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    virtual void SetTitle(const std::string& title) { title_ = title; }
    const std::string& GetTitle() const { return title_; }

    // Empties the document; called before it is initialised and when it closes.
    virtual void DeleteContents() {}
    // Initialises a new document; false means it could not be made.
    virtual bool OnNewDocument();
    // Opens the document by name. Documents hold no file content, so this
    // only empties the document and succeeds.
    virtual bool OnOpenDocument(const std::string& path);
    // Closes every view (through the close handler, if the window program set
    // one) and empties the document. The owner destroys it afterwards.
    virtual void OnCloseDocument();

    void AddView(DocumentView* view);
    void RemoveView(DocumentView* view);
    const std::vector<DocumentView*>& GetViews() const { return views_; }
    // Tells every view except `sender` that the document changed.
    void UpdateAllViews(DocumentView* sender, long hint = 0);

    // The window program's way of closing this document's windows.
    void SetCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }

protected:
    Document() = default;

private:
    std::string title_;
    std::vector<DocumentView*> views_;
    std::function<void()> closeHandler_;
};

// What a document knows of a view.
class DocumentView {
public:
    virtual ~DocumentView() = default;
    virtual void OnUpdate(DocumentView* sender, long hint) = 0;
};
