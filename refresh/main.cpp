// vosqueth: the desktop refresh helper. It reads no arguments.
#include <cstdlib>
#include <iostream>

#include "refresh/refresh.h"

int main() {
    return orv::refresh::VosquethMain(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                                      std::cerr);
}
