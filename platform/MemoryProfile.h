#pragma once

#include "platform/Profile.h"

#include <map>
#include <utility>

// A profile that lives only as long as the object: for tests, and for tools
// that must not touch the user's stored settings.
class MemoryProfile : public Profile {
public:
    int readInt(const std::string& section, const std::string& key, int fallback) const override;
    void writeInt(const std::string& section, const std::string& key, int value) override;
    std::string readText(const std::string& section, const std::string& key,
                         const std::string& fallback) const override;
    void writeText(const std::string& section, const std::string& key, const std::string& value) override;
    bool contains(const std::string& section, const std::string& key) const;

private:
    std::map<std::pair<std::string, std::string>, std::string> values_;
};
