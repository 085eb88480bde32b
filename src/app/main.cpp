#include <cstdio>

#include "app/driver.hpp"

int main(int argc, char** argv) {
    quilbex::platform::Console console(stdout, stderr, stdin);
    return quilbex::app::runQuilbex(argc, argv, console);
}
