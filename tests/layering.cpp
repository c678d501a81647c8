// Checks that every #include "folder/..." of the sources points down the
// layers, never up nor sideways; that no project header is included with
// angle brackets (which would hide it from this check and search the
// system's folders first); that no CMake target links a library of a layer
// above or beside its own; and that the simulator links only layers it
// includes. Names each fault with its file and line. Run as:
// layering SOURCE_DIR

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
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

// A CMake file's text without its comments.
std::string withoutComments(std::istream& in)
{
    std::string out;
    std::string line;
    while (std::getline(in, line)) {
        const auto hash = line.find('#');
        out += (hash == std::string::npos ? line : line.substr(0, hash)) + "\n";
    }
    return out;
}

int lineOf(const std::string& text, std::size_t at)
{
    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
}

struct Link {
    std::string file;
    int line = 0;
    std::string layer;   // of the folder that links
    std::string target;
    std::string library;
};

// The layers `library` brings in: its own, or those of what a target
// without a layer (an interface target of the top folder) links.
void layersOf(const std::string& library, const std::map<std::string, std::string>& layerOfTarget,
              const std::map<std::string, std::vector<std::string>>& linksOf,
              std::vector<std::pair<std::string, std::string>>& out, int depth = 0)
{
    const auto it = layerOfTarget.find(library);
    if (it == layerOfTarget.end() || depth > 8)
        return;
    if (!it->second.empty()) {
        out.emplace_back(library, it->second);
        return;
    }
    const auto links = linksOf.find(library);
    if (links == linksOf.end())
        return;
    for (const std::string& l : links->second)
        layersOf(l, layerOfTarget, linksOf, out, depth + 1);
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
    const std::regex angled(R"re(^\s*#\s*include\s*<([^>]+)>)re");
    const std::regex defines(R"re(\b(?:tessol_library|tessol_qt_library|add_library|add_executable)\s*\(\s*([^\s)]+))re");
    const std::regex links(R"re(\btarget_link_libraries\s*\(([^)]*)\))re");
    int files = 0;
    int faults = 0;
    // What the sources of each layer include, and what its CMake files link.
    std::map<std::string, std::set<std::string>> includedBy;
    std::map<std::string, std::string> layerOfTarget;
    std::map<std::string, std::vector<std::string>> linksOf;
    std::vector<Link> linkLines;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::directory_entry& entry = *it;
        const fs::path relative = fs::relative(entry.path(), root);
        const std::string name = relative.generic_string();
        if (it.depth() == 0 && entry.is_directory() && kRanks.count(name) == 0) {
            it.disable_recursion_pending();   // build folders and the like
            continue;
        }
        if (entry.is_regular_file() && relative.filename() == "CMakeLists.txt") {
            // The top folder's targets have no layer: they stand for what they link.
            const std::string layer = it.depth() == 0 ? std::string() : layerOf(name);
            std::ifstream in(entry.path());
            const std::string text = withoutComments(in);
            for (std::sregex_iterator m(text.begin(), text.end(), defines), end; m != end; ++m)
                layerOfTarget[(*m)[1]] = layer;
            for (std::sregex_iterator m(text.begin(), text.end(), links), end; m != end; ++m) {
                std::istringstream words((*m)[1].str());
                std::string target;
                words >> target;
                for (std::string w; words >> w;) {
                    if (w == "PUBLIC" || w == "PRIVATE" || w == "INTERFACE")
                        continue;
                    linksOf[target].push_back(w);
                    linkLines.push_back({name, lineOf(text, static_cast<std::size_t>(m->position(0))), layer, target, w});
                }
            }
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
            if (std::regex_search(line, match, angled) && !layerOf(match[1]).empty()) {
                std::cout << name << ":" << number << ": includes <" << match[1]
                          << "> with angle brackets; a header of this project is included in quotes\n";
                ++faults;
                includedBy[from].insert(layerOf(match[1]));
                continue;
            }
            if (!std::regex_search(line, match, include))
                continue;
            std::string target = match[1];
            // "../app/X.h" counts as what it reaches.
            if (target.find("..") != std::string::npos)
                target = (relative.parent_path() / target).lexically_normal().generic_string();
            const std::string to = layerOf(target);
            if (!to.empty())
                includedBy[from].insert(to);
            if (to.empty() || to == from || kRanks.at(to) < kRanks.at(from))
                continue;
            std::cout << name << ":" << number << ": includes " << target << ", but " << to
                      << (kRanks.at(to) == kRanks.at(from) ? " stands beside " : " lies above ") << from << "\n";
            ++faults;
        }
    }
    for (const Link& l : linkLines) {
        if (l.layer.empty())
            continue;
        std::vector<std::pair<std::string, std::string>> reached;
        layersOf(l.library, layerOfTarget, linksOf, reached);
        for (const auto& [library, to] : reached) {
            const std::string via = library == l.library ? "" : " (through " + l.library + ")";
            if (to != l.layer && kRanks.at(to) >= kRanks.at(l.layer)) {
                std::cout << l.file << ":" << l.line << ": " << l.target << " links " << library << via << ", but "
                          << to << (kRanks.at(to) == kRanks.at(l.layer) ? " stands beside " : " lies above ")
                          << l.layer << "\n";
                ++faults;
            } else if (l.layer == "sim" && to != l.layer && includedBy["sim"].count(to) == 0) {
                // The simulator stands apart from the program it serves.
                std::cout << l.file << ":" << l.line << ": " << l.target << " links " << library << via
                          << ", but nothing in sim includes " << to << "\n";
                ++faults;
            }
        }
    }
    if (files == 0) {
        std::cerr << "layering: no sources under " << root << "\n";
        return 2;
    }
    std::cout << files << " files, " << linkLines.size() << " links, " << faults << " against the layers\n";
    return faults == 0 ? 0 : 1;
}
