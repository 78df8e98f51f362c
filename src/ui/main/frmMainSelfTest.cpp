#include "frmMain.h"

void frmMain::ConnectSelfTest()
{
}
