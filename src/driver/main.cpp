#include <string>
#include <vector>

#include "driver/run.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    return teilimp::driver::run_main(args);
}
