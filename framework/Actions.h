// SPDX-License-Identifier: MIT
#pragma once

#include <QAction>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A user command. Triggering it (menu item, tool button, shortcut, trigger()) runs OnExecute;
// an exception from it goes to the application-level handler, so command handlers catch
// nothing themselves. OnUpdate sets the action's state (enabled, checked) and is run by the
// action list when the application is idle.
class TAction : public QAction {
public:
    // `name` becomes the object name and the action's own text.
    explicit TAction(const QString& name, QObject* parent = nullptr);

    std::function<void()> OnExecute;
    std::function<void(TAction&)> OnUpdate;

    // Runs OnExecute (if set) as a trigger does, also while the action is disabled. While long
    // work runs on the user-interface thread (TLongWork) no command starts: the trigger is
    // dropped.
    void Execute();
};

// The actions of a window, with their idle-time updates: every OnUpdate runs on a short timer
// while the event loop runs (in modal dialogs too) and on UpdateAll. An exception from an
// update handler goes to the application-level handler once per distinct failure: the same
// message from the same action is not shown again until its handler has succeeded once.
class TActionList : public QObject {
public:
    static constexpr auto updateInterval = std::chrono::milliseconds(50);

    explicit TActionList(QObject* parent = nullptr);

    // Creates an action owned by this list.
    TAction* Add(const QString& name);
    // Adds an action owned elsewhere; it leaves the list when it is destroyed.
    void Add(TAction* action);
    std::vector<TAction*> Actions() const;

    // Runs every update handler now, in the order the actions were added. Does nothing when
    // called from inside an update round (the error box of a failing handler runs an event
    // loop, whose timer must not start a second round).
    void UpdateAll();

private:
    struct Entry {
        QPointer<TAction> action;
        std::optional<std::string> lastFailure;
    };

    std::vector<Entry> entries;
    QTimer idleTimer;
    bool updating = false;
};
