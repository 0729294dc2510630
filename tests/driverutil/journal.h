// Reading the simulated machine's journal: the operations of interest, by
// their Windows names, in the order they ran.
#pragma once

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace hx::test {

inline std::string operationOf(const std::string& line) { return line.substr(0, line.find(' ')); }

// The journal lines, from index `from` on, whose operation is one of `names`.
inline std::vector<std::string> journalOf(const sim::Machine& machine, std::initializer_list<const char*> names,
                                          std::size_t from = 0) {
    const std::set<std::string> wanted(names.begin(), names.end());
    std::vector<std::string> lines;
    const auto& journal = machine.journal();
    for (std::size_t i = from; i < journal.size(); ++i) {
        if (wanted.count(operationOf(journal[i]))) lines.push_back(journal[i]);
    }
    return lines;
}

// Just the operation names of journalOf.
inline std::vector<std::string> operationsOf(const sim::Machine& machine, std::initializer_list<const char*> names,
                                             std::size_t from = 0) {
    std::vector<std::string> ops;
    for (const auto& line : journalOf(machine, names, from)) ops.push_back(operationOf(line));
    return ops;
}

inline bool journalHas(const sim::Machine& machine, const std::string& text, std::size_t from = 0) {
    const auto& journal = machine.journal();
    return std::any_of(journal.begin() + static_cast<std::ptrdiff_t>(std::min(from, journal.size())), journal.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace hx::test
