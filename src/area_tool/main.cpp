#include <string>
#include <vector>

#include "area_tool/tool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    return teilimp::area_tool::area_main(args);
}
