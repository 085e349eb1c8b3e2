// SPDX-License-Identifier: MIT
#pragma once

#include <QAction>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A user command. Triggering it (menu item, tool button, shortcut, trigger()) runs OnExecute;
// an exception from it goes to the application-level handler, so command handlers catch
// nothing themselves. OnUpdate sets the action's state (enabled, checked) and is run by the
// action list whenever that state may have changed.
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

// The actions of a window, with their updates. The update handlers follow the events that can
// change what they show rather than a timer, so an idle program does not wake up for them: a
// round of every OnUpdate runs soon (once, from the event loop) after a command, a round of
// calls from other threads (RunOnUiThread), a closed message box, user input, or
// RequestActionUpdates. A change that comes some other way must call RequestActionUpdates. An
// exception from an update handler goes to the application-level handler once per distinct
// failure: the same message from the same action is not shown again until its handler has
// succeeded once.
class TActionList : public QObject {
public:
    explicit TActionList(QObject* parent = nullptr);
    ~TActionList() override;

    // Creates an action owned by this list.
    TAction* Add(const QString& name);
    // Adds an action owned elsewhere; it leaves the list when it is destroyed.
    void Add(TAction* action);
    std::vector<TAction*> Actions() const;

    // Runs every update handler now, in the order the actions were added. Does nothing when
    // called from inside an update round (the error box of a failing handler runs an event
    // loop, which must not start a second round).
    void UpdateAll();
    // Runs UpdateAll soon from the event loop; requests before it runs are one round.
    void RequestUpdate();

private:
    struct Entry {
        QPointer<TAction> action;
        std::optional<std::string> lastFailure;
    };

    std::vector<Entry> entries;
    QTimer pendingRound;
    bool updating = false;
};

// Asks every action list to run its update handlers soon (TActionList::RequestUpdate). The
// framework calls it itself after the events listed above; code that changes what a handler
// shows in some other way (a timer of its own, say) calls it too. User-interface thread only.
void RequestActionUpdates();
