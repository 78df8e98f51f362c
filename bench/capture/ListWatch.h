#pragma once

#include <QAbstractItemView>
#include <QEvent>

#include "InboxListModel.h"
#include "frmMain.h"
#include "frmMessage.h"

// Counts the paints of the message window's list from outside, and tells when the list has listed
// every arrival and painted since: what a run costs includes every paint it took to show its mail.
class ListWatch : public QObject {
public:
    // Null while the message window shows no list.
    static ListWatch* attach(frmMain& window, QObject* parent)
    {
        frmMessage* message = window.messageWindow();
        auto* view = message ? message->findChild<QAbstractItemView*>(QStringLiteral("lstMessages")) : nullptr;
        if (view == nullptr || !message->listShown() || message->listModel() == nullptr)
            return nullptr;
        return new ListWatch(*view, *message->listModel(), parent);
    }

    int paints() const { return m_paints; }
    bool caughtUp() const { return !m_model.arrivalsWaiting() && m_paintedSinceListed; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++m_paints;
            m_paintedSinceListed = true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    ListWatch(QAbstractItemView& view, InboxListModel& model, QObject* parent) : QObject(parent), m_model(model)
    {
        view.viewport()->installEventFilter(this);
        connect(&model, &QAbstractItemModel::rowsInserted, this, [this] { m_paintedSinceListed = false; });
    }

    InboxListModel& m_model;
    int m_paints = 0;
    bool m_paintedSinceListed = true;
};
