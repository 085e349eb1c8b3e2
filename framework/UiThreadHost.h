// SPDX-License-Identifier: MIT
#pragma once

#include <exception>

// The toolkit's side of the user-interface call queue (UiThread.h). The queue itself knows no
// toolkit; the application object of each toolkit (TApplication over Qt, TWin32Application)
// attaches a host on its own thread, which makes that thread the user-interface thread.
class TUiThreadHost {
public:
    // Any thread, called with the queue's lock held: make the user-interface thread call
    // ProcessPendingUiCalls soon, from its main loop and from every nested loop (modal dialogs).
    // Must not block and must not call back into the queue.
    virtual void WakeUp() = 0;
    // User-interface thread, after each queued call has run: what the call changed may show in
    // the window's enabled states.
    virtual void CallRan() = 0;

protected:
    ~TUiThreadHost() = default;
};

// Makes the calling thread the user-interface thread, served by `host` (which must outlive the
// attachment).
void AttachUiThreadHost(TUiThreadHost& host);
// Ends the service: every call still queued fails in its own thread with an Exception, and later
// calls fail at once.
void DetachUiThreadHost();
