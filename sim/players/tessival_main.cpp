// tessival: the video player stand-in.
#include <QApplication>

#include "sim/players/zone_player.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    orv::players::VideoPlayer player;
    player.show();
    return app.exec();
}
