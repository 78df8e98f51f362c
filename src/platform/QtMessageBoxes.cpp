#include "QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

#include "ProductInfo.h"
#include "QtLatin1.h"

MsgResult QtMessageBoxes::show(const std::string& text, MsgButtons buttons, MsgIcon icon)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(fromLatin1(ProductInfo::ProductName));
    // Texts keep single-CR breaks in the program; only the screen sees real line breaks.
    box.setText(fromLatin1(text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    switch (icon) {
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    if (buttons == MsgButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    return box.exec() == QMessageBox::Cancel ? MsgResult::Cancel : MsgResult::Ok;
}
