#include "app/CKvtDocTemplate.h"

#include "app/CMainFrame.h"
#include "platform/qt/CChildFrame.h"
#include "platform/qt/CView.h"
#include "resources/Menus.h"

#include <QPointer>
#include <algorithm>
#include <cctype>

CKvtDocTemplate::CKvtDocTemplate(int resourceId, DocumentFactory makeDocument, ViewFactory makeView)
    : resourceId_(resourceId)
    , makeDocument_(std::move(makeDocument))
    , makeView_(std::move(makeView))
{
    const char* text = stringResource(resourceId);
    docString_ = text != nullptr ? text : "";
}

CKvtDocTemplate::~CKvtDocTemplate()
{
    CloseAllDocuments();
    DeleteClosed();
}

std::string CKvtDocTemplate::GetDocString(int field) const
{
    std::size_t start = 0;
    for (int i = 0; i < field; ++i) {
        start = docString_.find('\n', start);
        if (start == std::string::npos)
            return {};
        ++start;
    }
    return docString_.substr(start, docString_.find('\n', start) - start);
}

bool CKvtDocTemplate::MatchesFile(const std::string& name) const
{
    const std::string extension = GetDocString(4);
    return !extension.empty() && name.size() >= extension.size()
        && std::equal(extension.rbegin(), extension.rend(), name.rbegin(),
                      [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
}

Document* CKvtDocTemplate::OpenDocumentFile(const std::string& name, bool makeVisible)
{
    std::unique_ptr<Document> document = makeDocument_();
    if (!document)
        return nullptr;
    Document* doc = document.get();
    open_.push_back(Entry {std::move(document), {}, false});

    CView* view = nullptr;
    CChildFrame* frame = MakeFrame(doc, view);
    doc->SetCloseHandler([this, doc] { DropWindows(doc); });

    const bool ok = name.empty() ? doc->OnNewDocument() : doc->OnOpenDocument(name);
    if (!ok) {
        CloseDocument(doc);
        return nullptr;
    }
    if (mainFrame_ != nullptr)
        mainFrame_->AddChildFrame(frame);
    frame->setWindowTitle(QString::fromStdString(doc->GetTitle()));
    view->OnInitialUpdate();
    if (Entry* entry = find(doc)) {
        entry->made = true;
        if (!entry->closing)
            whole_.insert(doc);
    }
    if (makeVisible)
        frame->show();
    return doc;
}

CChildFrame* CKvtDocTemplate::MakeFrame(Document* doc, CView*& view)
{
    CChildFrame* frame = new CChildFrame;
    view = makeView_(*doc, *frame);
    frame->SetView(view);
    frame->SetCloseRequest([this, doc, frame] { CloseWindow(doc, frame); });
    find(doc)->frames.emplace_back(frame);
    return frame;
}

void CKvtDocTemplate::CloseWindow(Document* doc, CChildFrame* frame)
{
    Entry* entry = find(doc);
    if (entry == nullptr)
        return;
    entry->frames.erase(std::remove_if(entry->frames.begin(), entry->frames.end(),
                                       [](const QPointer<CChildFrame>& f) { return f.isNull(); }),
                        entry->frames.end());
    if (entry->frames.size() <= 1 && !(keepWithout_ && keepWithout_(*doc))) {
        CloseDocument(doc);
        return;
    }
    entry->frames.erase(std::remove(entry->frames.begin(), entry->frames.end(), QPointer<CChildFrame>(frame)),
                        entry->frames.end());
    frame->CloseForGood();
    delete frame;
}

CChildFrame* CKvtDocTemplate::OpenWindow(Document* document, bool makeVisible)
{
    Entry* entry = find(document);
    if (entry == nullptr || entry->closing)
        return nullptr;
    CView* view = nullptr;
    CChildFrame* frame = MakeFrame(document, view);
    if (mainFrame_ != nullptr)
        mainFrame_->AddChildFrame(frame);
    frame->setWindowTitle(QString::fromStdString(document->GetTitle()));
    view->OnInitialUpdate();
    if (makeVisible)
        frame->show();
    return frame;
}

void CKvtDocTemplate::DropWindows(Document* document)
{
    Entry* entry = find(document);
    if (entry == nullptr)
        return;
    const auto frames = entry->frames;
    entry->frames.clear();
    for (const QPointer<CChildFrame>& f : frames) {
        if (f) {
            f->CloseForGood();
            delete f.data();
        }
    }
}

std::vector<CChildFrame*> CKvtDocTemplate::GetFrames(const Document* document) const
{
    std::vector<CChildFrame*> frames;
    if (const Entry* entry = find(document)) {
        for (const QPointer<CChildFrame>& f : entry->frames) {
            if (f)
                frames.push_back(f.data());
        }
    }
    return frames;
}

void CKvtDocTemplate::CloseDocument(Document* document)
{
    Entry* entry = find(document);
    if (entry == nullptr || entry->closing)
        return;
    entry->closing = true;
    whole_.erase(document);
    if (closing_)
        closing_(*document);
    // Closes the windows through the close handler, then empties the document.
    document->OnCloseDocument();
    // A window made while it closed goes too.
    DropWindows(document);
    const auto it = std::find_if(open_.begin(), open_.end(),
                                 [document](const Entry& e) { return e.document.get() == document; });
    closed_.push_back(std::move(it->document));
    open_.erase(it);
}

void CKvtDocTemplate::CloseAllDocuments()
{
    while (!open_.empty())
        CloseDocument(open_.front().document.get());
}

std::vector<const Document*> CKvtDocTemplate::DeleteClosed(const std::function<bool(const Document&)>& keep)
{
    std::vector<const Document*> gone;
    std::vector<std::unique_ptr<Document>> kept;
    // Taken out first: a destructor may close another document meanwhile.
    std::vector<std::unique_ptr<Document>> closing = std::move(closed_);
    closed_.clear();
    for (std::unique_ptr<Document>& doc : closing) {
        if (keep && keep(*doc)) {
            kept.push_back(std::move(doc));
        } else {
            if (deleting_)
                deleting_(*doc);
            gone.push_back(doc.get());
            doc.reset();
        }
    }
    for (std::unique_ptr<Document>& doc : kept)
        closed_.push_back(std::move(doc));
    return gone;
}

std::vector<Document*> CKvtDocTemplate::GetDocuments() const
{
    std::vector<Document*> docs;
    for (const Entry& e : open_) {
        if (!e.closing)
            docs.push_back(e.document.get());
    }
    return docs;
}

bool CKvtDocTemplate::IsOpen(const Document* document) const
{
    return whole_.count(document) != 0;
}

const CKvtDocTemplate::Entry* CKvtDocTemplate::find(const Document* document) const
{
    for (const Entry& e : open_) {
        if (e.document.get() == document)
            return &e;
    }
    return nullptr;
}

CKvtDocTemplate::Entry* CKvtDocTemplate::find(const Document* document)
{
    for (Entry& e : open_) {
        if (e.document.get() == document)
            return &e;
    }
    return nullptr;
}
