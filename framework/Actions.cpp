// SPDX-License-Identifier: MIT
#include "Actions.h"

#include "Application.h"
#include "LongWork.h"

#include <QtGlobal>

namespace {

void ReportCurrentException() {
    if (Application)
        Application->HandleException();
    else
        qWarning("%s", ExceptionMessage(std::current_exception()).c_str());
}

} // namespace

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
}

TActionList::TActionList(QObject* parent) : QObject(parent) {
    idleTimer.setInterval(updateInterval);
    connect(&idleTimer, &QTimer::timeout, this, &TActionList::UpdateAll);
    idleTimer.start();
}

TAction* TActionList::Add(const QString& name) {
    auto* action = new TAction(name, this);
    Add(action);
    return action;
}

void TActionList::Add(TAction* action) {
    entries.push_back({action, std::nullopt});
}

std::vector<TAction*> TActionList::Actions() const {
    std::vector<TAction*> result;
    for (const Entry& entry : entries)
        if (entry.action)
            result.push_back(entry.action);
    return result;
}

void TActionList::UpdateAll() {
    if (updating)
        return;
    updating = true;
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
