#include "platform/MemoryProfile.h"

#include <cerrno>
#include <cstdlib>

int MemoryProfile::readInt(const std::string& section, const std::string& key, int fallback) const
{
    const auto it = values_.find({section, key});
    if (it == values_.end())
        return fallback;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(it->second.c_str(), &end, 10);
    if (end == it->second.c_str() || *end != '\0' || errno != 0)
        return fallback;
    return static_cast<int>(v);
}

void MemoryProfile::writeInt(const std::string& section, const std::string& key, int value)
{
    values_[{section, key}] = std::to_string(value);
}

std::string MemoryProfile::readText(const std::string& section, const std::string& key,
                                    const std::string& fallback) const
{
    const auto it = values_.find({section, key});
    return it == values_.end() ? fallback : it->second;
}

void MemoryProfile::writeText(const std::string& section, const std::string& key, const std::string& value)
{
    values_[{section, key}] = value;
}

bool MemoryProfile::contains(const std::string& section, const std::string& key) const
{
    return values_.count({section, key}) != 0;
}
