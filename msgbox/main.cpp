// pellandra: the installers' warning box.
#include <QApplication>

#include "msgbox/pellandra_dlg.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    orv::msgbox::CPellandraDlg dialog;
    dialog.exec();
    return 0;
}
