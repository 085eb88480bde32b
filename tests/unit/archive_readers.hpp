#pragma once
// Independent readers of the archives the tests write: unzip and Python's
// zipfile, run as separate programs.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace quilbex::testing {

// What the command printed on standard output.
inline std::string output(const std::string& command) {
    std::string text;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return text;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    ::pclose(pipe);
    return text;
}

inline bool unzipTestPasses(const std::string& archive) {
    return std::system(("unzip -t -q '" + archive + "' >/dev/null").c_str()) == 0;
}

// Runs a Python script with the archive (and the further argument, if given)
// as its arguments, zipfile imported and the archive opened as z.
inline std::string python(const std::string& script, const std::string& archive, const std::string& argument = {}) {
    return output("python3 -c 'import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n" + script + "' '" + archive +
                  "' '" + argument + "' 2>&1");
}

struct StoredEntry {
    std::string name;
    uint32_t dosDate = 0;
    uint64_t size = 0;  // uncompressed, as the directory records it
    std::string data;
    bool crcMatches = false;
};

// The archive as Python's zipfile reads it, entries in directory order, each
// read whole through its CRC check (the data of one whose CRC-32 differs is
// left empty); nothing when it is no readable zip file.
inline std::vector<StoredEntry> readArchive(const std::string& archive) {
    const TempDir dir;
    const std::string listing = python(
        "import os\n"
        "for n, i in enumerate(z.infolist()):\n"
        "    t = i.date_time\n"
        "    dos = (t[0] - 1980) << 25 | t[1] << 21 | t[2] << 16 | t[3] << 11 | t[4] << 5 | t[5] // 2\n"
        "    try:\n"
        "        data, ok = z.read(i), 1\n"
        "    except zipfile.BadZipFile:\n"
        "        data, ok = b\"\", 0\n"
        "    open(os.path.join(sys.argv[2], str(n)), \"wb\").write(data)\n"
        "    print(i.filename, dos, i.file_size, ok)",
        archive, dir.path(""));
    std::vector<StoredEntry> entries;
    std::istringstream lines(listing);
    StoredEntry entry;
    while (lines >> entry.name >> entry.dosDate >> entry.size >> entry.crcMatches) {
        std::ifstream file(dir.path(std::to_string(entries.size())), std::ios::binary);
        entry.data.assign(std::istreambuf_iterator<char>(file), {});
        entries.push_back(entry);
    }
    return entries;
}

}  // namespace quilbex::testing
