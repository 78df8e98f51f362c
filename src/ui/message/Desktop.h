#pragma once

#include <optional>

#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

// What the windows ask of the desktop: file names from its dialogs, and URLs and files opened in
// its default programs. Tests install their own and answer without any dialog.
class Desktop {
public:
    virtual ~Desktop() = default;
    // The file to write, or empty when the user cancelled.
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                                 const QString& filter)
        = 0;
    // The files to read, or none when the user cancelled.
    virtual QStringList openFileNames(QWidget* parent, const QString& caption, const QString& filter) = 0;
    // Hands a link or a file to the program the desktop opens it with.
    virtual void openUrl(const QUrl& url) = 0;
    // A line of text the user types, or nothing when cancelled (a modal dialog).
    virtual std::optional<QString> askText(QWidget* parent, const QString& caption, const QString& label);
};

// The desktop every window uses.
Desktop& desktop();
// Installs a desktop (nullptr restores the real one).
void setDesktop(Desktop* replacement);
