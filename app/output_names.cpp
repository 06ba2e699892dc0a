// Distinct stems for per-file outputs, from the inputs' absolute paths.
#include "app/output_names.h"

#include <algorithm>
#include <climits>
#include <map>
#include <unistd.h>

namespace {

// The folders of a path from the root down, and its stem; relative paths
// are taken from the working folder, "." and ".." resolved by name.
struct Parts {
    std::vector<std::string> folders;
    std::string stem;
};

Parts partsOf(const std::string& path)
{
    std::string whole = path;
    if (whole.empty() || whole[0] != '/') {
        char here[PATH_MAX];
        if (::getcwd(here, sizeof here)) whole = std::string(here) + "/" + whole;
    }
    std::vector<std::string> names;
    for (std::size_t at = 0; at <= whole.size();) {
        std::size_t slash = whole.find('/', at);
        if (slash == std::string::npos) slash = whole.size();
        const std::string name = whole.substr(at, slash - at);
        if (name == "..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        at = slash + 1;
    }
    Parts parts;
    if (names.empty()) return parts;
    parts.stem = names.back();
    names.pop_back();
    const auto dot = parts.stem.find_last_of('.');
    if (dot != std::string::npos && dot > 0) parts.stem.erase(dot);
    // A page of a stack is stem#N: a stem that itself ends so ("stack#1.pgm")
    // takes a "_", so that no input's outputs meet another's page.
    const auto hash = parts.stem.find_last_of('#');
    if (hash != std::string::npos && hash + 1 < parts.stem.size() &&
        parts.stem.find_first_not_of("0123456789", hash + 1) == std::string::npos)
        parts.stem += '_';
    parts.folders = std::move(names);
    return parts;
}

// The stem with the last `depth` folders (as many as there are) in front.
std::string nameWithFolders(const Parts& p, std::size_t depth)
{
    std::string name = p.stem;
    const std::size_t n = std::min(depth, p.folders.size());
    for (std::size_t k = 0; k < n; ++k) name = p.folders[p.folders.size() - 1 - k] + "_" + name;
    return name;
}

}  // namespace

std::vector<std::string> distinctStems(const std::vector<std::string>& paths)
{
    std::vector<Parts> parts;
    std::map<std::string, std::vector<std::size_t>> byStem;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        parts.push_back(partsOf(paths[i]));
        byStem[parts.back().stem].push_back(i);
    }
    std::vector<std::string> names(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) names[i] = parts[i].stem;

    // Inputs that share a stem each take the fewest folders that no other
    // of them has at the same places; one whose folders are all shared
    // (the same file twice, x.bmp beside x.png) keeps its stem.
    for (const auto& [stem, group] : byStem) {
        if (group.size() < 2) continue;
        for (std::size_t i : group) {
            for (std::size_t depth = 1; depth <= parts[i].folders.size(); ++depth) {
                const std::string name = nameWithFolders(parts[i], depth);
                const bool unique = std::none_of(group.begin(), group.end(), [&](std::size_t j) {
                    return j != i && nameWithFolders(parts[j], depth) == name;
                });
                if (unique) {
                    names[i] = name;
                    break;
                }
            }
        }
    }

    // What still clashes is numbered in the order given, "-2" onwards, with
    // no number that makes another input's name.
    std::map<std::string, int> taken;
    for (const std::string& n : names) taken[n] = 0;
    std::map<std::string, int> uses;
    for (std::string& n : names) {
        int& k = uses[n];
        if (k++ == 0) continue;
        while (taken.count(n + "-" + std::to_string(k))) ++k;
        n += "-" + std::to_string(k);
        taken[n] = 0;
    }
    return names;
}
