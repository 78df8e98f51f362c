#include "frmMain.h"

#include <QEvent>

void frmMain::ConnectSearch()
{
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    return QMainWindow::eventFilter(watched, event);
}
