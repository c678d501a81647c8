#pragma once

#include "app/CView.h"
#include "config/ConfigViewNotifications.h"

#include <QScrollArea>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CChildFrame;
class CMainFrame;
class CTqk5820ConfigDoc;
class CTqk5820ConfigPanel;
class Clock;
class Profile;
class UserPrompts;

// The window of one controller: up to six panels stacked in a fixed order
// (Status, Measurement, Limits, PID, Sensor, Info) as the document's display
// flags ask, on a grey background that scrolls when the main window is
// smaller. It places its frame in the next free slot of a grid four across
// and drives the panels' refresh from the idle pass.
class CTqk5820ConfigView : public QScrollArea, public CView, public ConfigViewNotifications {
    Q_OBJECT
public:
    static constexpr int kPanelCount = 6;

    // What the production commands reach outside the window.
    struct ProductionServices {
        Profile* profile = nullptr;
        UserPrompts* prompts = nullptr;
        // The application's open-document operation: the document opened
        // for this name, or null.
        std::function<Document*(const std::string& name)> openDocument;
        // The documents of the kind this name opens that are open now.
        std::function<std::vector<Document*>(const std::string& name)> openDocuments;
    };

    CTqk5820ConfigView(CTqk5820ConfigDoc& document, CMainFrame* mainFrame, CChildFrame* frame, Clock& clock);
    ~CTqk5820ConfigView() override;

    QWidget* widget() override { return this; }
    CTqk5820ConfigDoc& GetConfigDoc() const;

    // Takes a window slot, clears the graph flag and lays the panels out.
    void OnInitialUpdate() override;
    void OnUpdate(DocumentView* sender, long hint) override;

    // Display commands: the panel's flag inverted and stored, every view told.
    void OnDisplayToggle(int panel);
    // Calibration and Diagnostics: the production access dialog, then the
    // document of that kind bound to this controller. A second Diagnostics
    // command brings this controller's open diagnostics window forward.
    void OnProductionCommand(int commandId);
    void SetProductionServices(ProductionServices services) { production_ = std::move(services); }

    // One refresh of every live panel; about once a second, when all have
    // caught up and the instrument is online, their readings are re-armed.
    void RefreshPass();
    // The Measurement panel re-reads its set point, the Limits panel its
    // limits; nothing while that panel is hidden.
    void NotifySetPoint() override;
    void NotifyLimits() override;

    CTqk5820ConfigPanel* GetPanel(int index) const { return panels_[static_cast<std::size_t>(index)]; }
    CChildFrame* GetFrame() const { return frame_; }
    int GetWindowSlot() const { return slot_; }
    int GetWidestWidth() const { return widest_; }
    int GetTotalHeight() const { return total_; }
    // Whether the scroll sizes have been set at least once.
    bool HasScrollSizes() const { return scrollSized_; }
    // Whether a fit of the frame waits for the frame's normal state.
    bool IsFitPending() const { return fitPending_; }

private:
    void Layout();
    // Sizes and places the frame for the panels, in its slot of the grid;
    // in the normal state only, otherwise once the frame is restored.
    void FitFrame();
    static bool IsNormalState(Qt::WindowStates states);
    static CTqk5820ConfigPanel* MakePanel(int index, QWidget* parent);

    CMainFrame* mainFrame_;
    CChildFrame* frame_;
    Clock& clock_;
    QWidget* canvas_;
    std::array<CTqk5820ConfigPanel*, kPanelCount> panels_ {};
    std::array<bool, kPanelCount> busy_ {};
    const int rearmThreshold_ = 0;
    int slot_ = -1;
    int widest_ = 0;
    int total_ = 0;
    bool scrollSized_ = false;
    bool fitPending_ = false;
    std::int64_t lastRearm_;
    ProductionServices production_;
};
