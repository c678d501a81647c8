#pragma once

#include "platform/Document.h"

#include <string>

class CTqk5820ConfigDoc;

// The diagnostics of one controller. It holds nothing of its own and stores
// nothing: what its window shows is read through the configuration document
// of the same controller, and what it does is written through it. The
// configuration view that opened it hands over the serial-number text and
// binds it to that document for the document's whole life.
class CTqk5820DiagnosticDoc : public Document {
public:
    // The name every Diagnostics command opens, whichever instrument it
    // comes from; its extension selects this kind of document.
    static const char* const kFileName; // "5820_1.dgn"

    CTqk5820DiagnosticDoc() = default;

    // Whatever title is asked for: the serial number as "%s.dgn" once the
    // document is bound and the serial-number text has exactly 8
    // characters, otherwise the empty title.
    void SetTitle(const std::string& requested) override;

    // The serial-number text (parameter 55) as the configuration view read it.
    void SetSerialNumber(const std::string& serial) { serial_ = serial; }
    const std::string& GetSerialNumber() const { return serial_; }

    // Binds the document to the configuration document and view it belongs
    // to, applies the title rule and tells the views.
    void Attach(CTqk5820ConfigDoc& owner, DocumentView* ownerView);
    // The configuration document every instrument access goes through, or
    // null before Attach(). Not owned.
    CTqk5820ConfigDoc* GetOwnerDocument() const { return owner_; }
    DocumentView* GetOwnerView() const { return ownerView_; }

private:
    std::string serial_;
    DocumentView* ownerView_ = nullptr;
    CTqk5820ConfigDoc* owner_ = nullptr;
};
