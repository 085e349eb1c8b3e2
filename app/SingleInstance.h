// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <string>

// One program at a time for the same user and journal: two copies would each listen on every
// port, and after an unplug one session would be split across two views and two journals. The
// first start holds the instance for its whole life; a later start asks it to come to the front
// and ends without opening anything.
class TSingleInstance {
public:
    // Claims the instance of `key` (the journal folder). Never raises: where the system offers no
    // way to tell (no private folder for the claim), this start counts as the first.
    explicit TSingleInstance(const std::string& key);
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // False when another process holds the instance; it has then been asked to come to the front.
    bool IsFirst() const;
    // What the first instance does when a later start asks it to come to the front. Called on a
    // thread of its own, so it must only hand the request on (to the user-interface thread).
    void OnRaise(std::function<void()> raise);

private:
    class Impl;
    std::unique_ptr<Impl> impl;
};
