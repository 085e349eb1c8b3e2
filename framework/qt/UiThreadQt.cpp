// SPDX-License-Identifier: MIT
// Qt's side of the user-interface call queue: a posted event wakes the thread, and every call
// that ran requests the actions' updates.
#include "Actions.h"
#include "SanitizerAnnotations.h"
#include "UiThread.h"
#include "UiThreadHost.h"
#include "UiThreadInternal.h"

#include <QCoreApplication>
#include <QObject>

#include <memory>

namespace {

class QtUiThreadHost : public TUiThreadHost {
public:
    explicit QtUiThreadHost(QObject* dispatcher) : dispatcher(dispatcher) {}
    void WakeUp() override { PostUiEvent(dispatcher, UiCallEventType()); }
    void CallRan() override { RequestActionUpdates(); }

private:
    QObject* dispatcher;
};

std::unique_ptr<QtUiThreadHost>& AttachedHost() {
    static std::unique_ptr<QtUiThreadHost> host;
    return host;
}

} // namespace

QEvent::Type UiCallEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostUiEvent(QObject* receiver, QEvent::Type type) {
    auto* event = new QEvent(type);
    AnnotateHappensBefore(receiver);
    QCoreApplication::postEvent(receiver, event);
}

void ReceivedUiEvent(QObject* receiver) {
    AnnotateHappensAfter(receiver);
}

void AttachUiThread(QObject* dispatcher) {
    auto host = std::make_unique<QtUiThreadHost>(dispatcher);
    AttachUiThreadHost(*host);
    AttachedHost() = std::move(host);
}

void DetachUiThread() {
    DetachUiThreadHost();
    AttachedHost().reset();
}
