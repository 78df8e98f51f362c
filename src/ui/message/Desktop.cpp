#include "Desktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>

namespace {

class QtDesktop : public Desktop {
public:
    QString saveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                         const QString& filter) override
    {
        return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
    }
    QStringList openFileNames(QWidget* parent, const QString& caption, const QString& filter) override
    {
        return QFileDialog::getOpenFileNames(parent, caption, QString(), filter);
    }
    void openUrl(const QUrl& url) override { QDesktopServices::openUrl(url); }
};

QtDesktop realDesktop;
Desktop* current = &realDesktop;

} // namespace

std::optional<QString> Desktop::askText(QWidget* parent, const QString& caption, const QString& label)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent, caption, label, QLineEdit::Normal, QString(), &ok);
    return ok ? std::optional(text) : std::nullopt;
}

Desktop& desktop()
{
    return *current;
}

void setDesktop(Desktop* replacement)
{
    current = replacement ? replacement : &realDesktop;
}
