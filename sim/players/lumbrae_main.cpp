// lumbrae: the photo wall player stand-in. lumbrae --folder DIR [--interval SECONDS]
#include <QApplication>
#include <QCommandLineParser>

#include "sim/players/zone_player.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addOption({"folder", "The pictures' folder.", "folder"});
    options.addOption({"interval", "Seconds per picture.", "seconds", "1"});
    options.process(app);
    orv::players::PhotoWallPlayer player(options.value("folder"),
                                         options.value("interval").toInt());
    player.show();
    return app.exec();
}
