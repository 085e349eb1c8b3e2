// SPDX-License-Identifier: MIT
#include "Actions.h"

#include "Application.h"
#include "LongWork.h"

#include <QCoreApplication>
#include <QEvent>
#include <QtGlobal>

#include <algorithm>

namespace {

void ReportCurrentException() {
    if (Application)
        Application->HandleException();
    else
        qWarning("%s", ExceptionMessage(std::current_exception()).c_str());
}

// Every action list that exists, so that the framework's events can reach them all, and the
// one filter that sees the user's input for them.
class UpdateRegistry : public QObject {
public:
    void Enlist(TActionList* list) {
        if (lists.empty() && QCoreApplication::instance())
            QCoreApplication::instance()->installEventFilter(this);
        lists.push_back(list);
    }
    void Discharge(TActionList* list) {
        lists.erase(std::remove(lists.begin(), lists.end(), list), lists.end());
        if (lists.empty() && QCoreApplication::instance())
            QCoreApplication::instance()->removeEventFilter(this);
    }
    void RequestAll() {
        for (TActionList* list : lists)
            list->RequestUpdate();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        // The end of a key stroke or a click, not every mouse move: hovering must not keep the
        // program busy.
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonRelease:
        case QEvent::Wheel:
        case QEvent::WindowActivate:
            RequestAll();
            break;
        default:
            break;
        }
        return false;
    }

private:
    std::vector<TActionList*> lists;
};

UpdateRegistry& Registry() {
    static auto* registry = new UpdateRegistry; // lives as long as the process
    return *registry;
}

} // namespace

void RequestActionUpdates() {
    Registry().RequestAll();
}

TAction::TAction(const QString& name, QObject* parent) : QAction(name, parent) {
    setObjectName(name);
    connect(this, &QAction::triggered, this, [this] { Execute(); });
}

void TAction::Execute() {
    if (!OnExecute || TLongWork::Running())
        return;
    try {
        OnExecute();
    } catch (...) {
        ReportCurrentException();
    }
    RequestActionUpdates();
}

TActionList::TActionList(QObject* parent) : QObject(parent) {
    pendingRound.setSingleShot(true);
    pendingRound.setInterval(0);
    connect(&pendingRound, &QTimer::timeout, this, &TActionList::UpdateAll);
    Registry().Enlist(this);
}

TActionList::~TActionList() {
    Registry().Discharge(this);
}

TAction* TActionList::Add(const QString& name) {
    auto* action = new TAction(name, this);
    Add(action);
    return action;
}

void TActionList::Add(TAction* action) {
    entries.push_back({action, std::nullopt});
    RequestUpdate();
}

std::vector<TAction*> TActionList::Actions() const {
    std::vector<TAction*> result;
    for (const Entry& entry : entries)
        if (entry.action)
            result.push_back(entry.action);
    return result;
}

void TActionList::RequestUpdate() {
    if (!pendingRound.isActive())
        pendingRound.start();
}

void TActionList::UpdateAll() {
    if (updating)
        return;
    updating = true;
    pendingRound.stop();
    const QPointer<TActionList> self(this);
    // Indexes, not iterators: a handler or an error box may add actions meanwhile.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const QPointer<TAction> action = entries[i].action;
        if (!action || !action->OnUpdate)
            continue;
        try {
            action->OnUpdate(*action);
            entries[i].lastFailure.reset();
        } catch (...) {
            std::string message = ExceptionMessage(std::current_exception());
            if (entries[i].lastFailure != message) {
                entries[i].lastFailure = std::move(message);
                ReportCurrentException();
                if (!self)
                    return;
            }
        }
    }
    updating = false;
}
