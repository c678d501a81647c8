#pragma once

#include "platform/Profile.h"

#include <QSettings>

// The user's profile in QSettings under organisation "Korvath Electronics",
// application "Tessol" (~/.config/Korvath Electronics/Tessol.conf on Linux,
// honouring XDG_CONFIG_HOME).
class QtProfile : public Profile {
public:
    QtProfile();
    int readInt(const std::string& section, const std::string& key, int fallback) const override;
    void writeInt(const std::string& section, const std::string& key, int value) override;
    std::string readText(const std::string& section, const std::string& key,
                         const std::string& fallback) const override;
    void writeText(const std::string& section, const std::string& key, const std::string& value) override;

private:
    mutable QSettings settings_;
};
