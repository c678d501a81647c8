#include "resources/DialogTemplates.h"
#include "resources/Menus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>

namespace {

const DialogTemplate& tpl(int id)
{
    const DialogTemplate* t = dialogTemplate(id);
    if (!t)
        throw std::runtime_error("no template " + std::to_string(id));
    return *t;
}

const DialogControl& ctl(int templateId, int controlId)
{
    const DialogControl* c = findDialogControl(tpl(templateId), controlId);
    if (!c)
        throw std::runtime_error("no control " + std::to_string(controlId));
    return *c;
}

// ---- Dialog templates ------------------------------------------------------

TEST(DialogTemplates, EveryTemplateIsFoundByItsIdAndNoOther)
{
    EXPECT_EQ(dialogTemplateIds(), (std::vector<int>{100, 131, 132, 133, 134, 135, 136, 137, 139, 141, 145}));
    for (int id : dialogTemplateIds()) {
        EXPECT_EQ(tpl(id).id, id);
        EXPECT_EQ(tpl(id).modal, id == 100 || id == 145) << id;
        EXPECT_EQ(tpl(id).title.empty(), !tpl(id).modal) << id;
    }
    EXPECT_EQ(dialogTemplate(0), nullptr);
    EXPECT_EQ(dialogTemplate(138), nullptr);
    EXPECT_EQ(tpl(145).title, "User / Password / Serial Number Dialog");
    EXPECT_EQ(tpl(100).title, "About Tessol");
}

TEST(DialogTemplates, ControlIdsAreUniqueWithinATemplateExceptCaptions)
{
    for (int id : dialogTemplateIds()) {
        std::set<int> seen;
        for (const DialogControl& c : tpl(id).controls) {
            if (c.id != kNoControlId) {
                EXPECT_TRUE(seen.insert(c.id).second) << "template " << id << " repeats id " << c.id;
            }
        }
    }
}

TEST(DialogTemplates, EveryRectangleLiesInsideItsDialog)
{
    for (int id : dialogTemplateIds()) {
        const DialogTemplate& t = tpl(id);
        for (const DialogControl& c : t.controls) {
            SCOPED_TRACE("template " + std::to_string(id) + " control " + std::to_string(c.id) + " \"" + c.text + "\"");
            EXPECT_GE(c.x, 0);
            EXPECT_GE(c.y, 0);
            EXPECT_GT(c.cx, 0);
            EXPECT_GT(c.cy, 0);
            EXPECT_LE(c.x + c.cx, t.cx);
            // A combo box's height includes its dropped-down list, which may
            // reach beyond the dialog; its closed field must not.
            EXPECT_LE(c.y + (c.kind == ControlKind::ComboBox ? 12 : c.cy), t.cy);
        }
    }
}

TEST(DialogTemplates, EverySpinSitsFlushRightOfTheEntryBeforeIt)
{
    int spins = 0;
    for (int id : dialogTemplateIds()) {
        const auto& controls = tpl(id).controls;
        for (std::size_t i = 1; i < controls.size(); ++i) {
            const DialogControl& spin = controls[i];
            const DialogControl& entry = controls[i - 1];
            if (spin.kind != ControlKind::UpDown)
                continue;
            ++spins;
            SCOPED_TRACE("template " + std::to_string(id) + " spin " + std::to_string(spin.id));
            EXPECT_EQ(entry.kind, ControlKind::Edit);
            EXPECT_EQ(spin.x, entry.x + entry.cx);
            EXPECT_EQ(spin.y, entry.y);
            EXPECT_EQ(spin.cy, entry.cy);
        }
    }
    EXPECT_EQ(spins, 1 + 4 + 3 + 6 + 1); // Measurement, Limits, PID, Sensor, Info
}

TEST(DialogTemplates, LookupFindsTheControlOfThatTemplateAndNeverACaption)
{
    EXPECT_EQ(ctl(132, 1005).kind, ControlKind::Edit);
    EXPECT_EQ(ctl(133, 1127).kind, ControlKind::Static); // the same id names another control in 134
    EXPECT_EQ(ctl(134, 1127).kind, ControlKind::Edit);
    EXPECT_EQ(findDialogControl(tpl(132), kNoControlId), nullptr);
    EXPECT_EQ(findDialogControl(tpl(132), 4242), nullptr);
}

// ---- Menu 128, accelerators, string table --------------------------------------

const MenuResource& mainMenu()
{
    return *menuResource(res::kMainFrame);
}

const MenuItem& popupNamed(const std::vector<MenuItem>& items, const std::string& text)
{
    for (const MenuItem& item : items)
        if (item.kind == MenuItemKind::Popup && item.text == text)
            return item;
    throw std::runtime_error("no popup " + text);
}

// A popup's entries on one line: texts, "-" for separators, ">" before popups.
std::string outline(const std::vector<MenuItem>& items)
{
    std::string out;
    for (const MenuItem& item : items) {
        out += out.empty() ? "" : " | ";
        out += item.kind == MenuItemKind::Separator ? "-" : (item.kind == MenuItemKind::Popup ? ">" : "") + item.text;
    }
    return out;
}

void collectCommands(const std::vector<MenuItem>& items, std::vector<const MenuItem*>& out)
{
    for (const MenuItem& item : items) {
        if (item.kind == MenuItemKind::Command)
            out.push_back(&item);
        collectCommands(item.items, out);
    }
}

std::vector<const MenuItem*> allCommands()
{
    std::vector<const MenuItem*> out;
    collectCommands(mainMenu().popups, out);
    return out;
}

TEST(MainMenu, SeparatorsAndNestedPopupsStandWhereTheyBelong)
{
    ASSERT_NE(menuResource(res::kMainFrame), nullptr);
    EXPECT_EQ(menuResource(129), nullptr);
    EXPECT_EQ(outline(mainMenu().popups), ">&File | >&Run | >&Display | >&Window | >&Help");
    const auto& file = popupNamed(mainMenu().popups, "&File").items;
    EXPECT_EQ(outline(popupNamed(file, "&New").items), "&Temperature Controller | Current Source | -");
    const auto& display = popupNamed(mainMenu().popups, "&Display").items;
    EXPECT_EQ(outline(display), "&Status\tS | &Measurement\tM | &Limits\tL | &P I D\tP | Se&nsor\tN | "
                                "&Information\tI | &Graph\tG | - | >P&assword Protected | - | &Toolbar | &Status Bar");
    EXPECT_EQ(findMenuCommand(mainMenu(), cmd::kDiagnostics)->text, "&Diagnostics");
    EXPECT_EQ(findMenuCommand(mainMenu(), cmd::kHelp), nullptr);
}

TEST(MainMenu, CommandIdsAreUniqueAndStatesAreTheResources)
{
    std::set<int> ids, grey, checked;
    for (const MenuItem* item : allCommands()) {
        EXPECT_TRUE(ids.insert(item->commandId).second) << item->commandId;
        if (item->state & MenuState::kGrayed)
            grey.insert(item->commandId);
        if (item->state & MenuState::kChecked)
            checked.insert(item->commandId);
    }
    EXPECT_EQ(ids.size(), 39u);
    EXPECT_EQ(grey, (std::set<int>{32773, 57601, 57603, 57604, 57616, 59392}));
    EXPECT_EQ(checked, (std::set<int>{32774, 32775, 32776, 32777, 32780, 32778}));
}

std::string keyName(const Accelerator& a)
{
    std::string name = (a.modifiers & AcceleratorModifier::kCtrl) ? "Ctrl+" : "";
    name += (a.modifiers & AcceleratorModifier::kShift) ? "Shift+" : "";
    if (a.key >= kAcceleratorF1)
        return name + "F" + std::to_string(a.key - kAcceleratorF1 + 1);
    return name + static_cast<char>(a.key);
}

TEST(MainMenu, HintsAfterTheTabNameTheAcceleratorOfTheirCommand)
{
    const std::vector<Accelerator>& table = *acceleratorTable(res::kMainFrame);
    EXPECT_EQ(table.size(), 6u);
    int bound = 0;
    for (const MenuItem* item : allCommands()) {
        const auto tab = item->text.find('\t');
        const auto a = std::find_if(table.begin(), table.end(),
                                    [&](const Accelerator& x) { return x.commandId == item->commandId; });
        if (a != table.end()) {
            ++bound;
            ASSERT_NE(tab, std::string::npos) << item->text;
            EXPECT_EQ(item->text.substr(tab + 1), keyName(*a));
        } else if (tab != std::string::npos) {
            EXPECT_EQ(item->text.size() - tab, 2u) << item->text; // a Display letter, bound to nothing
        }
    }
    EXPECT_EQ(bound, 2); // Ctrl+P and Ctrl+S; the others have no menu entry
}

TEST(StringTable, DocumentStringsTitlesAndIndicators)
{
    for (const auto& [id, ext] : {std::pair{129, ".cfg"}, {101, ".cal"}, {105, ".dgn"}, {102, ".gph"}}) {
        ASSERT_NE(stringResource(id), nullptr) << id;
        const std::string s = stringResource(id);
        EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 6) << id;
        EXPECT_NE(s.find(std::string("\n") + ext + "\n"), std::string::npos) << id;
    }
    EXPECT_STREQ(stringResource(57344), "Tessol");
    EXPECT_STREQ(stringResource(128), "KORVATH ELECTRONICS ORVANE");
    EXPECT_STREQ(stringResource(59139), "SCRL");
    EXPECT_EQ(stringResource(0), nullptr);
    EXPECT_EQ(stringResource(cmd::kRestartAll), nullptr);
}

TEST(StringTable, StatusLinePromptIsTheTextBeforeTheTooltip)
{
    EXPECT_EQ(statusLinePrompt(32774), "Toggles the Status window for this instrument On/Off");
    EXPECT_EQ(statusLinePrompt(32771), "Opens the next new Temperature Controller");
    EXPECT_EQ(statusLinePrompt(57601), "");
    // Every prompt belongs to a command of the menu.
    for (int id = 32768; id < 33000; ++id) {
        if (stringResource(id)) {
            EXPECT_TRUE(findMenuCommand(mainMenu(), id)) << id;
        }
    }
}

} // namespace
