// orv-fwtool: writes sample firmware images and installs them with their
// registry values (see sample_images.h).
#include <iostream>

#include "tools/orvfwtool/sample_images.h"

int main(int argc, char** argv) {
    return orv::fwtool::RunTool(argc, argv, std::cout, std::cerr);
}
