#pragma once

#include <array>
#include <cstdint>
#include <string>

class CTqk5820DiagnosticDoc;
class Clock;
class UserPrompts;

// What the diagnostics form puts on its controls. The view implements it on
// its widgets; tests record it.
class DiagnosticFormHost {
public:
    virtual ~DiagnosticFormHost() = default;
    // The check mark of a lamp-test button or the mark of a status
    // indicator: 0 clears it, anything else sets it.
    virtual void SetMark(int controlId, int mark) = 0;
    // The potentiometer counter on the counter display.
    virtual void ShowCounter(float value) = 0;
    // Closes the diagnostic document and with it the window (and this
    // object). Callers return at once afterwards.
    virtual void CloseDocument() = 0;
};

// The working of the diagnostics form, without a window system: the lamp
// test with at most one lamp group lit, the polling cycle of the output
// status (92), switch status (93) and potentiometer counter (94), the
// lamp pattern written as parameter 91, and the processor halt. Every
// instrument access goes through the owning configuration document.
class DiagnosticViewLogic {
public:
    // Control ids of the form.
    static constexpr int kSequenceLeds = 1050;
    static constexpr int kAllLeds = 1051;
    static constexpr int kSevenSegmentLeds = 1052;
    static constexpr int kUnitsLeds = 1053;
    static constexpr int kStatusLeds = 1054;
    static constexpr int kOutputOnLed = 1055;
    static constexpr int kCounterDisplay = 1083;
    static constexpr int kHaltButton = 1150;
    static constexpr int kCloseButton = 1143;

    // The lamp groups in the order of the lamp-test flags.
    static constexpr int kLampCount = 6;
    static const std::array<int, kLampCount> kLampButtons;
    // Every lamp group off.
    static const char* const kLampsOff; // "-000.000"

    // Switch-status indicators (parameter 93) and the character each shows.
    static const std::array<std::pair<int, int>, 6> kSwitchMarks;
    // Output-status indicators (parameter 92) and the character each shows.
    static const std::array<std::pair<int, int>, 3> kOutputMarks;

    // A loop that waits for the instrument gives up after this many whole
    // seconds even while the instrument stays online.
    static constexpr int kLoopLimitSeconds = 15;
    // How long a close waits for a lamp pattern in flight before it puts the
    // lamps out (whole seconds, more than this): the reply time-out's bound.
    static constexpr int kCloseWaitSeconds = 2;

    DiagnosticViewLogic(CTqk5820DiagnosticDoc& document, DiagnosticFormHost& host, Clock& clock,
                        UserPrompts& prompts);

    // The window is up: polling starts.
    void OnInitialUpdate() { active_ = true; }
    // A lamp-test button was clicked: that group lit and every other off, or
    // that group off if it was lit. The next refresh pass writes the pattern.
    void OnLampButton(int controlId);
    // One pass of the idle loop: closes the document when its instrument is
    // offline (false), otherwise advances the polling cycle and offers a
    // pending lamp pattern for writing. True while a read or the pattern
    // is still waiting.
    bool RefreshPass();
    // The window goes: polling stops, and an online instrument is offered
    // "-000.000" once, so no lamp group stays lit.
    void OnDestroy();
    // Asks before halting the processor; on OK waits for what is
    // outstanding, writes 52, waits for its answer and closes the document.
    // Every wait ends when the instrument goes offline.
    void OnHalt();

    // The pattern of a lamp-test button, or null for another id.
    static const char* LampPattern(int controlId);

    bool IsActive() const { return active_; }
    bool IsLampLit(int controlId) const;
    const std::string& Pattern() const { return pattern_; }
    bool IsPatternPending() const { return patternPending_; }
    bool AnyReadArmed() const { return counterArmed_ || switchArmed_ || outputArmed_; }
    const std::string& LastSwitchText() const { return lastSwitch_; }
    const std::string& LastOutputText() const { return lastOutput_; }
    const std::string& LastCounterText() const { return lastCounter_; }

private:
    static int LampIndex(int controlId);
    void ShowMarks(const std::string& text, const std::pair<int, int>* marks, std::size_t count);

    CTqk5820DiagnosticDoc& document_;
    DiagnosticFormHost& host_;
    Clock& clock_;
    UserPrompts& prompts_;

    std::array<bool, kLampCount> lit_ {};
    std::string pattern_;
    std::string lastSwitch_;
    std::string lastOutput_;
    std::string lastCounter_;
    bool active_ = false;
    bool patternPending_ = false;
    bool counterArmed_ = false;
    bool switchArmed_ = false;
    bool outputArmed_ = false;
    std::int64_t lastCycle_;
};
