#pragma once

#include <QWidget>

#include "LogBuffer.h"

class QCheckBox;
class QCloseEvent;
class LogListBox;

// The log window: a view of the application log's lines, a button to clear them and the switch
// for detailed logging. Closing it only hides it, so the lines survive.
class frmLog final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmLog)
public:
    // Views these lines, which must outlive it.
    explicit frmLog(LogBuffer& lines, QWidget* parent = nullptr);
    ~frmLog() override;

    LogListBox* lstLog() const { return m_lstLog; }
    QCheckBox* chkLogFull() const { return m_chkLogFull; }

    // Whether detailed-only lines are to be written, read from the check box each time.
    bool detailedLogging() const;

signals:
    // The user closed the window.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void cmdClearLog_Click();
    void lstLog_Click();

    LogListBox* m_lstLog = nullptr;
    QCheckBox* m_chkLogFull = nullptr;
};
