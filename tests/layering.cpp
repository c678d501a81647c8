// Checks that every #include "folder/..." of the sources points down the
// layers, never up nor sideways, and names each one that does not with its
// file and line. Run as: layering SOURCE_DIR

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <string>

namespace fs = std::filesystem;

namespace {

// Lowest first; folders of the same rank stand beside each other and may
// not include one another.
const std::map<std::string, int> kRanks = {
    {"resources", 0},
    {"platform", 1},
    {"link", 2}, {"platform/qt", 2},
    {"controls", 3},
    {"config", 4},
    {"calibration", 5}, {"diagnostics", 5},
    {"app", 6},
    {"sim", 7},
    {"tools", 8}, {"tests", 8},
    {"bench", 9},
};

// The layer of a path relative to the source folder ("platform/qt/X.h" is
// platform/qt, "platform/win32/X.h" is platform); empty when it has none.
std::string layerOf(const std::string& path)
{
    const auto slash = path.find('/');
    if (slash == std::string::npos)
        return {};
    const std::string top = path.substr(0, slash);
    if (top == "platform" && path.compare(slash + 1, 3, "qt/") == 0)
        return "platform/qt";
    return kRanks.count(top) != 0 ? top : std::string();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: layering SOURCE_DIR\n";
        return 2;
    }
    const fs::path root = argv[1];
    const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
    int files = 0;
    int faults = 0;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::directory_entry& entry = *it;
        const fs::path relative = fs::relative(entry.path(), root);
        const std::string name = relative.generic_string();
        if (it.depth() == 0 && entry.is_directory() && kRanks.count(name) == 0) {
            it.disable_recursion_pending();   // build folders and the like
            continue;
        }
        const std::string extension = relative.extension().string();
        if (!entry.is_regular_file() || (extension != ".h" && extension != ".cpp"))
            continue;
        const std::string from = layerOf(name);
        if (from.empty())
            continue;
        ++files;
        std::ifstream in(entry.path());
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            std::smatch match;
            if (!std::regex_search(line, match, include))
                continue;
            std::string target = match[1];
            // "../app/X.h" counts as what it reaches.
            if (target.find("..") != std::string::npos)
                target = (relative.parent_path() / target).lexically_normal().generic_string();
            const std::string to = layerOf(target);
            if (to.empty() || to == from || kRanks.at(to) < kRanks.at(from))
                continue;
            std::cout << name << ":" << number << ": includes " << target << ", but " << to
                      << (kRanks.at(to) == kRanks.at(from) ? " stands beside " : " lies above ") << from << "\n";
            ++faults;
        }
    }
    if (files == 0) {
        std::cerr << "layering: no sources under " << root << "\n";
        return 2;
    }
    std::cout << files << " files, " << faults << " includes against the layers\n";
    return faults == 0 ? 0 : 1;
}
