#include <cstdio>

#include "app/driver.hpp"
#include "platform/archive_file.hpp"

int main(int argc, char** argv) {
    quilbex::platform::Console console(stdout, stderr, stdin);
    // A file size limit then fails the archive's writes, which the export
    // reports, instead of ending the process.
    quilbex::platform::letWritesFailAtFileSizeLimit();
    return quilbex::app::runQuilbex(argc, argv, console);
}
