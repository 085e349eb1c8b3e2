// SPDX-License-Identifier: MIT
#pragma once

#include "CommThread.h"
#include "Journal.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// The run's journal as the sixteen receiver threads use it: one TCommThreadJournal per slot,
// labelled as in the status line (slot 0 is COM1). Whatever cannot be kept is reported once per
// outage (from a failure until a group is kept again), through `onFirstFailure`, on the receiver
// thread that met it and only after its group was shown; the handler must not wait for the user.
class TReceiveJournal {
public:
    using FailureHandler = std::function<void(const TJournalError& error)>;

    TReceiveJournal(std::string folder, FailureHandler onFirstFailure, TJournal::Clock now = {});

    // `slot` 0..15.
    TCommThreadJournal& Slot(int slot);
    TJournal& Journal() { return journal; }

private:
    class SlotJournal : public TCommThreadJournal {
    public:
        SlotJournal(TReceiveJournal& owner, int label) : owner(owner), label(label) {}
        void BytesRead(const std::vector<unsigned char>& bytes) override;
        void KeepGroup(const std::vector<unsigned char>& reportText) override;
        void BeforeConfirm() override;

    private:
        TReceiveJournal& owner;
        const int label;
        // The first failure of this slot since it last reported, reported at the next confirm.
        std::optional<TJournalError> unreported;
    };

    void Report(const TJournalError& error);

    TJournal journal;
    FailureHandler onFirstFailure;
    std::atomic<bool> inOutage{false};
    std::array<std::unique_ptr<SlotJournal>, TJournal::captureCount> slotJournals;
};
