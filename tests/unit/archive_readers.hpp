#pragma once
// Independent readers of the archives the tests write: unzip and Python's
// zipfile, run as separate programs.

#include <cstdio>
#include <cstdlib>
#include <string>

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

// Runs a Python script with the archive as its argument, zipfile imported
// and the archive opened as z.
inline std::string python(const std::string& script, const std::string& archive) {
    return output("python3 -c 'import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n" + script + "' '" + archive +
                  "' 2>&1");
}

}  // namespace quilbex::testing
