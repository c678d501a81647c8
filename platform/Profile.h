#pragma once

#include <string>

// The user's settings store: integers and texts by section and key.
class Profile {
public:
    virtual ~Profile() = default;
    // The stored integer, or `fallback` when the key is missing or not a number.
    virtual int readInt(const std::string& section, const std::string& key, int fallback) const = 0;
    virtual void writeInt(const std::string& section, const std::string& key, int value) = 0;
    // The stored text, or `fallback` when the key is missing.
    virtual std::string readText(const std::string& section, const std::string& key,
                                 const std::string& fallback) const = 0;
    virtual void writeText(const std::string& section, const std::string& key, const std::string& value) = 0;
};
