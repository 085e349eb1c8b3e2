// SPDX-License-Identifier: MIT
#pragma once

#include <QEvent>

class QObject;

// Used by TApplication only: it makes its own thread the user-interface thread and gives the
// object to which call events are posted. The object must process call events by calling
// ProcessPendingUiCalls.
void AttachUiThread(QObject* dispatcher);

// Ends the user-interface thread's service: every call still queued fails in its own thread
// with an Exception, and later calls fail at once.
void DetachUiThread();

QEvent::Type UiCallEventType();

// Posts an event of `type` to `receiver`, which lives on the user-interface thread and must call
// ReceivedUiEvent first thing when it gets it (this pairing tells ThreadSanitizer what Qt's
// event queue orders). Any thread.
void PostUiEvent(QObject* receiver, QEvent::Type type);
void ReceivedUiEvent(QObject* receiver);
