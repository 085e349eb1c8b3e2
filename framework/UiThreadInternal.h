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
