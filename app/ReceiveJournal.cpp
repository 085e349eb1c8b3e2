// SPDX-License-Identifier: MIT
#include "ReceiveJournal.h"

#include <stdexcept>

TReceiveJournal::TReceiveJournal(std::string folder, FailureHandler onFirstFailure, TJournal::Clock now)
    : journal(std::move(folder), std::move(now)), onFirstFailure(std::move(onFirstFailure)) {
    for (int slot = 0; slot < TJournal::captureCount; ++slot)
        slotJournals[static_cast<std::size_t>(slot)] = std::make_unique<SlotJournal>(*this, slot + 1);
}

TCommThreadJournal& TReceiveJournal::Slot(int slot) {
    if (slot < 0 || slot >= TJournal::captureCount)
        throw std::out_of_range("no journal slot " + std::to_string(slot));
    return *slotJournals[static_cast<std::size_t>(slot)];
}

// An outage begins with the first failure after a success (or the run's start) and ends with a
// group kept: one box per outage, so that a disk full again an hour later is told again.
void TReceiveJournal::Report(const TJournalError& error) {
    if (!inOutage.exchange(true) && onFirstFailure)
        onFirstFailure(error);
}

// Bytes are read before their group is shown; a failure to keep them is told after it.
void TReceiveJournal::SlotJournal::BytesRead(const std::vector<unsigned char>& bytes) {
    auto error = owner.journal.AppendCapture(label, bytes.data(), bytes.size());
    if (error && !unreported)
        unreported = std::move(error);
}

void TReceiveJournal::SlotJournal::KeepGroup(const std::vector<unsigned char>& reportText) {
    auto error = owner.journal.AppendBlock(reportText);
    if (error && !unreported)
        unreported = std::move(error);
}

void TReceiveJournal::SlotJournal::BeforeConfirm() {
    auto error = owner.journal.SyncCapture(label);
    if (error && !unreported)
        unreported = std::move(error);
    if (unreported) {
        owner.Report(*unreported);
        unreported.reset();
    } else {
        owner.inOutage.store(false);
    }
}
