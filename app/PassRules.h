#pragma once

#include <map>
#include <vector>

class WindowPrompts;

// What holds still and what goes on during the idle pass, when a box or a
// loop that waits in place runs the event loop inside a step:
// - A component's step (a controller: its sampler, its windows' refresh,
//   its document's poll; a calibration or diagnostics window's step) is
//   marked as under way while it runs. A pass that starts inside it skips
//   that component, so a step never runs twice at once and only the
//   component waiting for an answer holds still.
// - Boxes opened from a window's own buttons or lists come outside any
//   pass; the window's prompts count them. A calibration or diagnostics
//   window with a box of its own open is held (the step behind Clear
//   EEPROM or Halt goes on once answered); a controller window is not.
// - While a loop waits in place for an instrument, calibration windows,
//   whose steps may ask the user, wait.
// - Closed documents are deleted only by the outermost pass, never while a
//   box of their own window is open.
class PassRules {
public:
    // Marks a component's step as under way for as long as it lives.
    class Mark {
    public:
        Mark(PassRules& rules, const void* component) : rules_(rules)
        {
            rules_.busy_.push_back(component);
        }
        ~Mark() { rules_.busy_.pop_back(); }
        Mark(const Mark&) = delete;
        Mark& operator=(const Mark&) = delete;

    private:
        PassRules& rules_;
    };
    // A loop that waits in place, under way for as long as it lives.
    class Waiting {
    public:
        explicit Waiting(PassRules& rules) : rules_(rules) { ++rules_.waiting_; }
        ~Waiting() { --rules_.waiting_; }
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;

    private:
        PassRules& rules_;
    };

    bool IsBusy(const void* component) const;
    // The pass or step under way is the outermost one: nothing it runs
    // inside of is still on the stack.
    bool IsOutermost() const { return busy_.size() == 1; }

    // The prompts that count the boxes of a document's window, until Forget.
    void Watch(const void* document, const WindowPrompts& prompts) { boxesOf_[document] = &prompts; }
    void Forget(const void* document) { boxesOf_.erase(document); }
    bool HasOwnBox(const void* document) const;

    // Whether a pass leaves a calibration or diagnostics window (`form`, of
    // `controller`) alone; `asks` for one whose steps may ask the user.
    bool IsHeld(const void* form, const void* controller, bool asks) const;

private:
    // Components whose step is under way, innermost last; passes too.
    std::vector<const void*> busy_;
    int waiting_ = 0;
    std::map<const void*, const WindowPrompts*> boxesOf_;
};
