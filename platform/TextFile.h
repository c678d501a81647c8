#pragma once

#include <cstddef>
#include <string>

// Whole text files that a person keeps (settings files): read at most
// `maxBytes` of one, and write one so that a failure halfway leaves the
// old file as it was. False with `error` ("cannot read PATH: REASON")
// when it cannot be done.
bool readTextFile(const std::string& path, std::size_t maxBytes, std::string& text, std::string& error);
bool writeTextFile(const std::string& path, const std::string& text, std::string& error);
