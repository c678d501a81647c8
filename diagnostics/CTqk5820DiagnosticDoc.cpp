#include "diagnostics/CTqk5820DiagnosticDoc.h"

#include <cstdio>

const char* const CTqk5820DiagnosticDoc::kFileName = "5820_1.dgn";

void CTqk5820DiagnosticDoc::SetTitle(const std::string&)
{
    if (owner_ != nullptr && serial_.size() == 8) {
        char title[16];
        std::snprintf(title, sizeof title, "%s.dgn", serial_.c_str());
        Document::SetTitle(title);
    } else {
        Document::SetTitle("");
    }
}

void CTqk5820DiagnosticDoc::Attach(CTqk5820ConfigDoc& owner, DocumentView* ownerView)
{
    owner_ = &owner;
    SetTitle(GetTitle());
    ownerView_ = ownerView;
    UpdateAllViews(nullptr);
}
