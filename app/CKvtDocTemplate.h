#pragma once

#include "platform/Document.h"

#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <list>
#include <unordered_set>
#include <vector>

class CChildFrame;
class CMainFrame;
class CView;

// One kind of document: how to make the document, its frame and its view,
// and the document string with the kind's names and file extension. The
// template owns the documents it made.
class CKvtDocTemplate {
public:
    using DocumentFactory = std::function<std::unique_ptr<Document>()>;
    using ViewFactory = std::function<CView*(Document& document, CChildFrame& frame)>;

    CKvtDocTemplate(int resourceId, DocumentFactory makeDocument, ViewFactory makeView);
    virtual ~CKvtDocTemplate();
    CKvtDocTemplate(const CKvtDocTemplate&) = delete;
    CKvtDocTemplate& operator=(const CKvtDocTemplate&) = delete;

    int GetResourceId() const { return resourceId_; }
    // Field 0 to 6 of the document string: window title, document name,
    // new-file name, filter name, filter extension, registry file type id,
    // registry file type name.
    std::string GetDocString(int field) const;
    // Whether a file name belongs to this kind (by its extension).
    bool MatchesFile(const std::string& name) const;

    void SetMainFrame(CMainFrame* frame) { mainFrame_ = frame; }
    // Runs first when a document of this kind closes, while it is still
    // whole: documents bound to it close before it.
    void SetClosingHandler(std::function<void(Document&)> handler) { closing_ = std::move(handler); }
    // Asked when the user closes a document's last window: true keeps the
    // document open without one (a controller watched from the overview).
    void SetKeepWithoutWindows(std::function<bool(Document&)> keep) { keepWithout_ = std::move(keep); }
    // Runs just before a closed document is deleted.
    void SetDeletingHandler(std::function<void(Document&)> handler) { deleting_ = std::move(handler); }

    // A new document (empty name) or one opened by name, with its frame and
    // view; null if the document could not be made.
    Document* OpenDocumentFile(const std::string& name, bool makeVisible = true);
    // A new window (frame and view) for an open document; null if it is
    // not open.
    CChildFrame* OpenWindow(Document* document, bool makeVisible = true);
    // Closes every window of an open document and keeps the document.
    void DropWindows(Document* document);
    // The open windows of a document.
    std::vector<CChildFrame*> GetFrames(const Document* document) const;
    // Closes the document and its windows. The object itself is deleted by
    // DeleteClosed(), so that whoever is still using it this pass is safe.
    void CloseDocument(Document* document);
    void CloseAllDocuments();
    // Deletes the closed documents but those `keep` holds on to (all when
    // none is given); returns the addresses of those that went, which must
    // not be followed.
    std::vector<const Document*> DeleteClosed(const std::function<bool(const Document&)>& keep = {});

    // The open documents, oldest first.
    std::vector<Document*> GetDocuments() const;
    // Open, not closing, and whole: a document whose opening is still under
    // way (a box of its own opening may be up) does not count yet.
    bool IsOpen(const Document* document) const;

    // Kept as the template's one field of its own; not otherwise used.
    std::int32_t m_nReserved = 0;

private:
    struct Entry {
        std::unique_ptr<Document> document;
        // Qt may have deleted a frame with the main window already.
        std::vector<QPointer<CChildFrame>> frames;
        bool closing;
        // Its view has had its first update.
        bool made = false;
    };
    Entry* find(const Document* document);
    const Entry* find(const Document* document) const;
    // Frame and view for `doc`, with the close request that ends it.
    CChildFrame* MakeFrame(Document* doc, CView*& view);
    // The user closes one window of `doc`.
    void CloseWindow(Document* doc, CChildFrame* frame);

    int resourceId_;
    std::string docString_;
    DocumentFactory makeDocument_;
    ViewFactory makeView_;
    CMainFrame* mainFrame_ = nullptr;
    std::function<void(Document&)> closing_;
    std::function<bool(Document&)> keepWithout_;
    std::function<void(Document&)> deleting_;
    std::list<Entry> open_; // entries stay put while documents close
    // The documents that IsOpen() holds, asked several times a pass for
    // each of up to 99 documents.
    std::unordered_set<const Document*> whole_;
    std::vector<std::unique_ptr<Document>> closed_;
};
