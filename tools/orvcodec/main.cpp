#include <iostream>

#include "tools/orvcodec/orvcodec.h"

int main(int argc, char** argv) {
    return orv::orvcodec::Run({argv + 1, static_cast<std::size_t>(argc - 1)}, std::cout, std::cerr);
}
