#pragma once

#include "config/ParameterConsumer.h"

#include <QWidget>

class CTqk5820ConfigDoc;
class CTqk5820ConfigView;
struct DialogTemplate;

// One panel of a controller window: a modeless child dialog built from its
// dialog template. The view creates it, calls Refresh() on every idle pass
// and Rearm() about once a second, and destroys it when its display flag is
// cleared.
class CTqk5820ConfigPanel : public QWidget, public ParameterConsumer {
    Q_OBJECT
public:
    ~CTqk5820ConfigPanel() override;

    // Builds the panel's controls from its template inside `view`, attaches
    // the control objects and initialises the panel from the view's document.
    bool Create(CTqk5820ConfigView& view);

    // One refresh step; true while a read or write of the panel is outstanding.
    virtual bool Refresh() { return false; }
    // Asks again for the readings the panel shows continuously.
    virtual void Rearm() {}
    // Instead of Refresh() while polling is halted: what the panel shows as
    // live is marked as not live, in the look of a unit that does not
    // answer. Nothing is read or written.
    virtual void ShowHalted() {}

    int TemplateId() const { return templateId_; }

    // The unit text of degrees: character 176 of the Windows Latin-1 code
    // page (the degree sign, as in ISO Latin-1), then "C".
    static QString DegreesCelsius();

protected:
    explicit CTqk5820ConfigPanel(int templateId, QWidget* parent);

    // Attaches each control id of the template to the panel's control object.
    virtual void BindControls() {}
    // Initialisation once the controls exist.
    virtual void OnInitDialog() {}
    // What the panel registered with the document is given back here, before
    // its window goes.
    virtual void OnDestroy() {}

    // A new control object in the place of the template's control `id`, or
    // null (nothing made) when the template has no such control.
    template <class Control>
    Control* AttachControl(int id)
    {
        auto* control = new Control(this);
        if (!control->attach(this, id)) {
            delete control;
            return nullptr;
        }
        return control;
    }

    CTqk5820ConfigDoc& Doc() const { return *doc_; }
    CTqk5820ConfigView& View() const { return *view_; }

private:
    int templateId_;
    CTqk5820ConfigDoc* doc_ = nullptr;
    CTqk5820ConfigView* view_ = nullptr;
    bool created_ = false;
    bool destroyed_ = false;

protected:
    // Derived destructors call it first, while their members still exist.
    void Destroy();
};
