// kalmiro: the video wall's control panel.
#include "panel/app/kalmiro_app.h"

int main(int argc, char** argv) {
    return orv::panel::RunKalmiro(argc, argv);
}
