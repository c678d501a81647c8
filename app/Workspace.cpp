#include "app/Workspace.h"

#include "platform/Profile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kFieldsBeforeFolder = 7;
constexpr int kMaxEntries = 99;

bool toInt(const std::string& text, int& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + text.size())
        return false;
    value = static_cast<int>(v);
    return true;
}

std::vector<std::string> split(const std::string& text, char separator, std::size_t most)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (parts.size() + 1 < most) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string::npos)
            break;
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

} // namespace

bool WorkspaceEntry::operator==(const WorkspaceEntry& o) const
{
    return port == o.port && unit == o.unit && serial == o.serial && window == o.window && x == o.x && y == o.y
        && width == o.width && height == o.height && panels == o.panels && broker == o.broker
        && logFolder == o.logFolder && settingsFile == o.settingsFile && alarms == o.alarms
        && program == o.program;
}

namespace workspace {

std::string format(const WorkspaceEntry& e)
{
    char head[96];
    std::snprintf(head, sizeof head, "COM%d;%02d;", e.port + 1, e.unit);
    char geometry[64];
    std::snprintf(geometry, sizeof geometry, "%d,%d,%d,%d", e.x, e.y, e.width, e.height);
    return head + e.serial + ";" + (e.window ? "window" : "hidden") + ";" + geometry + ";" + e.panels + ";"
        + (e.broker ? "broker" : "nobroker") + ";" + e.logFolder;
}

bool parse(const std::string& text, WorkspaceEntry& entry, std::string& problem)
{
    const std::vector<std::string> f = split(text, ';', kFieldsBeforeFolder + 1);
    if (f.size() != kFieldsBeforeFolder + 1) {
        problem = "not line;unit;serial;window;geometry;panels;broker;log folder";
        return false;
    }
    WorkspaceEntry e;
    if (f[0].size() != 4 || f[0].compare(0, 3, "COM") != 0 || f[0][3] < '1' || f[0][3] > '4') {
        problem = "line \"" + f[0] + "\" is not COM1 to COM4";
        return false;
    }
    e.port = f[0][3] - '1';
    if (!toInt(f[1], e.unit) || e.unit < 1 || e.unit > 99) {
        problem = "unit \"" + f[1] + "\" is not 1 to 99";
        return false;
    }
    // The instrument's field is 8 characters; a longer one was not read
    // from one.
    if (f[2].size() > 8) {
        problem = "serial \"" + f[2] + "\" is longer than 8 characters";
        return false;
    }
    e.serial = f[2];
    if (f[3] != "window" && f[3] != "hidden") {
        problem = "\"" + f[3] + "\" is not window or hidden";
        return false;
    }
    e.window = f[3] == "window";
    const std::vector<std::string> g = split(f[4], ',', 5);
    if (g.size() != 4 || !toInt(g[0], e.x) || !toInt(g[1], e.y) || !toInt(g[2], e.width) || !toInt(g[3], e.height)
        || e.width < 0 || e.height < 0) {
        problem = "geometry \"" + f[4] + "\" is not x,y,width,height";
        return false;
    }
    if (f[5].size() != 7 || f[5].find_first_not_of("01") != std::string::npos) {
        problem = "panels \"" + f[5] + "\" are not seven 0 or 1";
        return false;
    }
    e.panels = f[5];
    if (f[6] != "broker" && f[6] != "nobroker") {
        problem = "\"" + f[6] + "\" is not broker or nobroker";
        return false;
    }
    e.broker = f[6] == "broker";
    e.logFolder = f[7];
    entry = e;
    return true;
}

void save(Profile& profile, const std::vector<WorkspaceEntry>& entries)
{
    const int count = static_cast<int>(std::min<std::size_t>(entries.size(), kMaxEntries));
    for (int i = 0; i < count; ++i) {
        const WorkspaceEntry& entry = entries[static_cast<std::size_t>(i)];
        profile.writeText(kSection, "Controller" + std::to_string(i + 1), format(entry));
        profile.writeText(kSection, "Settings" + std::to_string(i + 1), entry.settingsFile);
        profile.writeText(kSection, "Alarms" + std::to_string(i + 1), entry.alarms);
        profile.writeText(kSection, "Program" + std::to_string(i + 1), entry.program);
    }
    profile.writeInt(kSection, "Count", count);
}

std::vector<WorkspaceEntry> load(const Profile& profile, std::vector<std::string>& damaged)
{
    std::vector<WorkspaceEntry> entries;
    const int count = profile.readInt(kSection, "Count", 0);
    if (count < 0 || count > kMaxEntries) {
        damaged.push_back("Count: " + std::to_string(count) + " is not 0 to 99");
        return entries;
    }
    for (int i = 1; i <= count; ++i) {
        const std::string key = "Controller" + std::to_string(i);
        const std::string text = profile.readText(kSection, key, "");
        WorkspaceEntry entry;
        std::string problem;
        if (parse(text, entry, problem)) {
            entry.settingsFile = profile.readText(kSection, "Settings" + std::to_string(i), "");
            entry.alarms = profile.readText(kSection, "Alarms" + std::to_string(i), "");
            entry.program = profile.readText(kSection, "Program" + std::to_string(i), "");
            entries.push_back(entry);
        }
        else
            damaged.push_back("entry " + std::to_string(i) + ": " + (text.empty() ? std::string("missing") : problem));
    }
    return entries;
}

bool enabled(const Profile& profile)
{
    return profile.readInt(kSection, kRestoreKey, 1) != 0;
}

} // namespace workspace
