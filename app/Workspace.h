#pragma once

#include <string>
#include <vector>

class Profile;

// The watched controllers as saved between runs, one profile entry each
// in the "Workspace" section: "Count", then "Controller1" to "ControllerN":
//
//   COM2;07;SN4711;window;120,40,420,610;1111110;broker;/home/lab/logs
//
// line, unit, the serial number last seen (empty: never read), whether its
// window is open, the window's geometry (x,y,width,height in the client
// area), the seven panels shown (Status to Graph), broker or nobroker, and
// last the log folder (empty: not logging), which may hold any character.
// The settings file last applied to a controller, if any, is kept beside
// its entry as "Settings1" to "SettingsN" (a path may hold any character),
// its alarm rules as "Alarms1" to "AlarmsN" (empty: the defaults), and a
// set-point program running (or interrupted) as "Program1" to "ProgramN":
// "3;720;/home/lab/cycle.txt", step (from 1), seconds in it, file.
struct WorkspaceEntry {
    int port = 0; // 0 to 3
    int unit = 1; // 1 to 99
    std::string serial;
    bool window = true;
    int x = 0, y = 0, width = 0, height = 0;
    std::string panels = "1111110";
    bool broker = true;
    std::string logFolder;
    std::string settingsFile; // kept beside the entry, not in its text
    std::string alarms;       // the same
    std::string program;      // the same

    bool operator==(const WorkspaceEntry& other) const;
};

namespace workspace {

inline constexpr const char* kSection = "Workspace";
// 0 turns saving and restoring off.
inline constexpr const char* kRestoreKey = "Restore";

std::string format(const WorkspaceEntry& entry);
// False with `problem` ("unit \"1x\" is not 1 to 99") for a damaged entry.
bool parse(const std::string& text, WorkspaceEntry& entry, std::string& problem);

void save(Profile& profile, const std::vector<WorkspaceEntry>& entries);
// The entries that parse; each damaged one is named in `damaged`
// ("entry 3: unit \"1x\" is not 1 to 99").
std::vector<WorkspaceEntry> load(const Profile& profile, std::vector<std::string>& damaged);
bool enabled(const Profile& profile);

} // namespace workspace
