#pragma once

#include "config/ConfigViewNotifications.h"
#include "platform/qt/CView.h"

#include <QScrollArea>
#include <QStringList>

class QLabel;
class QPushButton;

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <memory>
#include <string>

class CChildFrame;
class CTqk5820ConfigDoc;
class CTqk5820ConfigPanel;
class Clock;
class Controller;
class Profile;
class ReadingSampler;
class UserPrompts;
class WindowHost;

// The window of one controller: up to seven panels stacked in a fixed order
// (Status, Measurement, Limits, PID, Sensor, Info, Graph) as the document's
// display flags ask, on a grey background that scrolls when the main window
// is smaller. It places its frame in the next free slot of a grid four across
// and drives the panels' refresh from the idle pass. It is one view of a
// watched controller, whose sampler collects the readings of the graph, the
// log and the broker.
class CTqk5820ConfigView : public QScrollArea, public CView, public ConfigViewNotifications {
    Q_OBJECT
public:
    static constexpr int kPanelCount = 7;
    static constexpr std::int64_t kQuietRefreshMillis = 100;

    CTqk5820ConfigView(Controller& controller, WindowHost* host, CChildFrame* frame, Clock& clock);
    ~CTqk5820ConfigView() override;

    QWidget* widget() override { return this; }
    CTqk5820ConfigDoc& GetConfigDoc() const;
    // A menu command for this window, from one of its panels.
    void RunCommand(int commandId);

    // Takes a window slot and lays the panels out.
    void OnInitialUpdate() override;
    void OnUpdate(DocumentView* sender, long hint) override;

    // Display commands: the panel's flag inverted and stored, every view told.
    void OnDisplayToggle(int panel);

    // One refresh of every live panel; about once a second, when all have
    // caught up and the instrument is online, their readings are re-armed.
    void RefreshPass();
    // In place of RefreshPass() while polling is halted: the live values
    // are marked as not live, as for a unit that does not answer, and the
    // sampler closes its seconds without readings. The first refresh pass
    // afterwards asks for every reading again.
    void HaltedPass();
    // The set point written from elsewhere (kSetPointWrittenHint) is
    // shown as NotifySetPoint() does; any other update lays out the panels.
    // The Measurement panel re-reads its set point, the Limits panel its
    // limits; nothing while that panel is hidden.
    void NotifySetPoint() override;
    void NotifyLimits() override;

    CTqk5820ConfigPanel* GetPanel(int index) const { return panels_[static_cast<std::size_t>(index)]; }
    ReadingSampler& Sampler() const;
    Controller& GetController() const { return controller_; }
    CChildFrame* GetFrame() const { return frame_; }
    int GetWindowSlot() const { return slot_; }
    int GetWidestWidth() const { return widest_; }
    int GetTotalHeight() const { return total_; }
    // Whether the scroll sizes have been set at least once.
    bool HasScrollSizes() const { return scrollSized_; }
    // The frame takes the size of the panels again, where it stands (after
    // its first place, which is its slot's in the grid).
    void RefitFrame() { FitFrame(); }
    // Whether a fit of the frame waits for the frame's normal state.
    bool IsFitPending() const { return fitPending_; }
    // The note above the panels that keeps what became of entries that did
    // not land (the document's entry notes), until the user dismisses it.
    bool IsNoteShown() const { return noteShown_; }
    QString NoteText() const;
    void DismissNote();

private:
    void Layout();
    // Sizes the canvas for the note and the panels and places them.
    void Place();
    // Takes the document's entry notes made since the last look.
    void TakeEntryNotes();
    // Sizes and places the frame for the panels, in its slot of the grid;
    // in the normal state only, otherwise once the frame is restored.
    void FitFrame();
    static bool IsNormalState(Qt::WindowStates states);
    static CTqk5820ConfigPanel* MakePanel(int index, QWidget* parent);

    Controller& controller_;
    WindowHost* host_;
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
    // The frame has had its first place, from its slot.
    bool placed_ = false;
    std::int64_t lastRearm_;
    // What the last full refresh pass saw, so that a window behind others
    // on a busy floor does not redo its panels on every pass.
    std::uint64_t seenActivity_ = ~std::uint64_t {0};
    std::int64_t refreshedAt_ = 0;
    std::string shownTitle_;
    // Polling was halted since the last refresh pass.
    bool wasHalted_ = false;
    QWidget* note_ = nullptr;
    QLabel* noteText_ = nullptr;
    QPushButton* noteDismiss_ = nullptr;
    QStringList noteLines_;
    bool noteShown_ = false;
    int noteHeight_ = 0;
    std::uint64_t notesTaken_ = 0;
};
